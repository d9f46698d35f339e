#!/usr/bin/env python3
"""Makes the user's guide one self-contained HTML page from docs/guide.md.

usage: guide-html.py GUIDE.md VERSION OUT.html
Needs Python-Markdown (Debian's python3-markdown, installed by install-deps.sh for
releases). Headings get the anchors the guide's table of contents links to.
"""
import html
import sys

import markdown

STYLE = """
body { font-family: Segoe UI, Helvetica, Arial, sans-serif; max-width: 60em; margin: 2em auto;
       padding: 0 1em; line-height: 1.45; color: #222; }
code, pre { font-family: Consolas, Menlo, monospace; font-size: 0.95em; }
pre { background: #f4f4f4; padding: 0.6em 0.8em; overflow-x: auto; }
table { border-collapse: collapse; margin: 0.8em 0; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.5em; vertical-align: top; text-align: left; }
th { background: #eee; }
h2 { border-bottom: 1px solid #ccc; margin-top: 2em; }
h4 code, h4 { font-size: 1.05em; }
"""


def main():
    source, version, out = sys.argv[1:4]
    text = open(source, encoding="utf-8").read()
    body = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"], output_format="html5")
    title = f"kav_Sorvan {html.escape(version)}: user's guide"
    page = (f'<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n<title>{title}</title>\n'
            f"<style>{STYLE}</style>\n</head>\n<body>\n"
            + body.replace("</h1>", f"</h1>\n<p><em>Version {html.escape(version)}</em></p>", 1)
            + "\n</body>\n</html>\n")
    with open(out, "w", encoding="utf-8") as f:
        f.write(page)


if __name__ == "__main__":
    main()
