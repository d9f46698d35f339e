"""The part of Igor's procedure language that the example procedures use, parsed and
run with every kav_Abf call carried out by the stand-in host's command line.

Statements, one per line or separated by ';': declarations (Variable, String, Wave),
assignments (=, +=, -=) of arithmetic, comparisons and string joins, if/elseif/else/endif, for/endfor, return, Make, SetScale,
Print, Printf, a column assignment `m[][c] = w[p]`, and calls. Anything else is an
error, so the examples cannot drift into code that this interpreter (and so the
test) does not understand. Igor's run-time errors are modelled as Igor handles them:
a non-zero status leaves an error pending, GetRTError(1) clears it, and one still
pending at the end of a line stops the procedure.
"""
import json
import math
import re
import subprocess

TYPE_NAMES = {"4": "number", "0x2000": "string", "0x4000": "wave", "0x1004": "number by reference",
              "0x3000": "string by reference"}


def read_function_table(path):
    """functions.csv: name -> (return type, [(param name, type code)])."""
    table = {}
    for line in open(path, encoding="ascii"):
        if line.startswith("#") or not line.strip():
            continue
        name, _category, ret, params = [c.strip() for c in line.split(",", 3)]
        plist = [] if params == "-" else [tuple(p.split(":")) for p in params.split()]
        table[name] = (ret, plist)
    return table


class IgorError(Exception):
    pass


# ---------------------------------------------------------------- expressions

TOKEN = re.compile(r'\s*(?:(\d+\.?\d*(?:[eE][-+]?\d+)?|\.\d+)|("(?:[^"\\]|\\.)*")|([A-Za-z_]\w*)|'
                   r'(==|!=|<=|>=|&&|\|\||\+=|-=|[-+*/<>!=(),\[\]&|?:$;]))')
ESCAPES = {"\\": "\\", '"': '"', "r": "\r", "n": "\n", "t": "\t"}


def tokenize(text, where):
    out, pos = [], 0
    text = text.rstrip()
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            raise IgorError(f"{where}: cannot read {text[pos:]!r}")
        pos = m.end()
        num, s, ident, op = m.groups()
        if num is not None:
            out.append(("num", float(num)))
        elif s is not None:
            out.append(("str", re.sub(r"\\(.)", lambda e: ESCAPES.get(e.group(1), e.group(1)), s[1:-1])))
        elif ident is not None:
            out.append(("id", ident))
        else:
            out.append(("op", op))
    return out


BINARY = [["==", "!="], ["<", ">", "<=", ">="], ["+", "-"], ["*", "/"]]


class ExprParser:
    def __init__(self, tokens, where):
        self.t, self.i, self.where = tokens, 0, where

    def peek(self, value=None):
        if self.i >= len(self.t):
            return None
        tok = self.t[self.i]
        return tok if value is None or tok == ("op", value) else None

    def take(self, value):
        if not self.peek(value):
            raise IgorError(f"{self.where}: expected {value!r}")
        self.i += 1

    def done(self):
        if self.i != len(self.t):
            raise IgorError(f"{self.where}: unexpected {self.t[self.i][1]!r}")

    def expr(self):
        return self.binary(0)

    def binary(self, level):
        if level == len(BINARY):
            return self.unary()
        left = self.binary(level + 1)
        while self.peek() and self.peek()[0] == "op" and self.peek()[1] in BINARY[level]:
            op = self.t[self.i][1]
            self.i += 1
            left = ("bin", op, left, self.binary(level + 1))
        return left

    def unary(self):
        for op in ("-", "!", "$"):
            if self.peek(op):
                self.i += 1
                return ("un", op, self.unary())
        return self.primary()

    def primary(self):
        if self.i >= len(self.t):
            raise IgorError(f"{self.where}: expression ends too early")
        kind, value = self.t[self.i]
        self.i += 1
        if kind in ("num", "str"):
            return (kind, value)
        if kind == "id":
            if self.peek("("):
                self.i += 1
                args = []
                while not self.peek(")"):
                    args.append(self.expr())
                    if not self.peek(")"):
                        self.take(",")
                self.take(")")
                return ("call", value, args)
            return ("var", value)
        if value == "(":
            e = self.expr()
            self.take(")")
            return e
        raise IgorError(f"{self.where}: unexpected {value!r}")


def parse_expr(text, where):
    p = ExprParser(tokenize(text, where), where)
    e = p.expr()
    p.done()
    return e


def split_top(text, sep):
    """Splits at `sep` outside strings and brackets."""
    parts, depth, cur, in_str, i = [], 0, "", False, 0
    while i < len(text):
        c = text[i]
        if in_str:
            if c == "\\":
                cur += text[i:i + 2]
                i += 2
                continue
            in_str = c != '"'
        elif c == '"':
            in_str = True
        elif c in "([":
            depth += 1
        elif c in ")]":
            depth -= 1
        elif c == sep and depth == 0:
            parts.append(cur.strip())
            cur = ""
            i += 1
            continue
        cur += c
        i += 1
    parts.append(cur.strip())
    return parts


def strip_comment(line):
    in_str, i = False, 0
    while i < len(line):
        c = line[i]
        if in_str and c == "\\":
            i += 2
            continue
        if c == '"':
            in_str = not in_str
        elif not in_str and line.startswith("//", i):
            return line[:i].strip()
        i += 1
    return line.strip()


# ---------------------------------------------------------------- statements

class Function:
    def __init__(self, name, returns, params, line):
        self.name, self.returns, self.params, self.line = name, returns, params, line
        self.types = {}  # local and parameter name -> Variable/String/Wave
        self.body = []


class Procedures:
    """A parsed procedure file: its functions and menus."""

    def __init__(self, path):
        self.path = path
        self.functions, self.menus = {}, []
        lines = open(path, encoding="ascii").read().split("\n")
        self.lines = [(n + 1, strip_comment(l)) for n, l in enumerate(lines)]
        self.pos = 0
        while self.pos < len(self.lines):
            n, text = self.lines[self.pos]
            self.pos += 1
            if not text or text.startswith("#pragma"):
                continue
            if m := re.fullmatch(r'Menu\s+"([^"]*)"', text):
                self.menus.append((m.group(1), self.menu_items()))
            elif m := re.fullmatch(r"(?:static\s+)?Function(/S)?\s+(\w+)\(([\w\s,]*)\)", text):
                params = [p.strip() for p in m.group(3).split(",") if p.strip()]
                f = Function(m.group(2), "string" if m.group(1) else "number", params, n)
                self.functions[f.name] = f
                self.read_function(f)
            else:
                raise IgorError(f"{path}:{n}: not a function, menu or pragma: {text!r}")

    def menu_items(self):
        items = []
        while True:
            n, text = self.next_line("End of a Menu")
            if text == "End":
                return items
            label, command = split_top(text, ",")
            items.append((parse_expr(label, f"line {n}")[1], parse_expr(command, f"line {n}")))

    def next_line(self, what):
        while self.pos < len(self.lines):
            n, text = self.lines[self.pos]
            self.pos += 1
            if text:
                return n, text
        raise IgorError(f"{self.path}: file ends before the {what}")

    def read_function(self, f):
        # The parameters' declarations come first, in the order of the parameter list.
        declared = []
        while len(declared) < len(f.params):
            n, text = self.next_line(f"declarations of {f.name}'s parameters")
            m = re.fullmatch(r"(Variable|String|Wave)\s+([\w\s,]+)", text)
            if not m:
                raise IgorError(f"line {n}: parameter declaration expected")
            for name in [x.strip() for x in m.group(2).split(",")]:
                f.types[name] = m.group(1)
                declared.append(name)
        if declared != f.params:
            raise IgorError(f"{f.name}: parameters declared as {declared}, listed as {f.params}")
        f.body, end = self.block(f, ("End",))

    def block(self, f, enders):
        body = []
        while True:
            n, text = self.next_line(f"end of {f.name}")
            word = text.split("(")[0].split()[0]
            if word in enders:
                return body, (word, n, text)
            where = f"line {n}"
            if word == "if":
                branches, cond = [], self.cond(text, "if", where)
                while True:
                    stmts, (kind, n2, t2) = self.block(f, ("elseif", "else", "endif"))
                    branches.append((cond, stmts))
                    if kind == "endif":
                        break
                    cond = self.cond(t2, "elseif", f"line {n2}") if kind == "elseif" else ("num", 1.0)
                body.append((n, "if", branches))
            elif word == "for":
                m = re.fullmatch(r"for\s*\((.*)\)", text)
                init, cond, step = split_top(m.group(1), ";")
                stmts, _ = self.block(f, ("endfor",))
                body.append((n, "for", self.simple(f, init, where), parse_expr(cond, where),
                             self.simple(f, step, where), stmts))
            else:
                body.append((n, "line", [self.simple(f, s, where) for s in split_top(text, ";")]))

    @staticmethod
    def cond(text, word, where):
        m = re.fullmatch(word + r"\s*\((.*)\)", text)
        if not m:
            raise IgorError(f"{where}: {word} (condition) expected")
        return parse_expr(m.group(1), where)

    def simple(self, f, text, where):
        if m := re.fullmatch(r"(Variable|String|Wave)(/Z)?\s+(.*)", text):
            items = []
            for part in split_top(m.group(3), ","):
                name, _, init = part.partition("=")
                name = name.strip()
                f.types[name] = m.group(1)
                items.append((name, parse_expr(init, where) if init.strip() else None))
            return ("decl", m.group(1), items)
        if m := re.fullmatch(r"return(?:\s+(.*))?", text):
            return ("return", parse_expr(m.group(1), where) if m.group(1) else None)
        if m := re.fullmatch(r"Make((?:/\w+(?:=\([^)]*\)|=\w+)?)*)\s+(.*)", text):
            flags = dict(re.findall(r"/(\w+)(?:=\(?([^)/]*)\)?)?", m.group(1)))
            dims = [parse_expr(d, where) for d in split_top(flags.pop("N", "0"), ",")]
            unknown = set(flags) - {"O", "D", "FREE"}
            if unknown:
                raise IgorError(f"{where}: Make flags {sorted(unknown)} are not modelled")
            target = m.group(2).strip()
            if "FREE" in flags or not target.startswith("$"):
                f.types[target] = "Wave"
            return ("make", "f64" if "D" in flags else "f32", dims, parse_expr(target, where), "FREE" in flags)
        if m := re.fullmatch(r"SetScale(/P)?\s+([xd])\s+(.*)", text):
            return ("setscale", m.group(2), [parse_expr(a, where) for a in split_top(m.group(3), ",")])
        if m := re.fullmatch(r"(Printf|Print)\s+(.*)", text):
            return (m.group(1).lower(), [parse_expr(a, where) for a in split_top(m.group(2), ",")])
        if m := re.fullmatch(r"(\w+)\[\]\[(.+)\]\s*=\s*(\w+)\[p\]", text):
            return ("column", m.group(1), parse_expr(m.group(2), where), m.group(3))
        if m := re.fullmatch(r"(\w+)\s*(=|\+=|-=)\s*(.*)", text):
            return ("assign", m.group(1), m.group(2), parse_expr(m.group(3), where))
        e = parse_expr(text, where)
        if e[0] != "call":
            raise IgorError(f"{where}: statement not understood: {text!r}")
        return ("expr", e)


# ---------------------------------------------------------------- static checks

# Igor's built-in functions that the examples use: return kind and parameter kinds.
BUILTINS = {
    "GetRTError": ("number", ["number"]), "GetRTErrMessage": ("string", []),
    "num2istr": ("string", ["number"]), "cmpstr": ("number", ["string", "string"]),
    "ItemsInList": ("number", ["string", "string"]), "StringFromList": ("string", ["number", "string", "string"]),
    "NumberByKey": ("number", ["string", "string", "string", "string"]),
    "StringByKey": ("string", ["string", "string", "string", "string"]),
    "CleanupName": ("string", ["string", "number"]), "numpnts": ("number", ["wave"]),
    "DimDelta": ("number", ["wave", "number"]), "WaveUnits": ("string", ["wave", "number"]),
}


def expressions(stmt):
    """Every expression of one statement (nested statements excluded)."""
    kind = stmt[0]
    if kind == "decl":
        return [e for _, e in stmt[2] if e]
    if kind in ("return", "expr"):
        return [stmt[1]] if stmt[1] else []
    if kind == "make":
        return stmt[2] + [stmt[3]]
    if kind == "setscale":
        return stmt[2]
    if kind in ("print", "printf"):
        return stmt[1]
    if kind == "column":
        return [stmt[2]]
    if kind == "assign":
        return [stmt[3]]
    return []


def walk(body):
    """Yields (line, simple statement or condition expression) through nested blocks."""
    for item in body:
        n, kind = item[0], item[1]
        if kind == "line":
            for s in item[2]:
                yield n, s
        elif kind == "if":
            for cond, stmts in item[2]:
                yield n, ("expr", cond)
                yield from walk(stmts)
        elif kind == "for":
            yield n, item[2]
            yield n, ("expr", item[3])
            yield n, item[4]
            yield from walk(item[5])


class Checker:
    """Every call checked against its definition: kav_Abf functions against the
    function table (name, number and kinds of arguments), the procedures' own
    functions and Igor's built-ins by their parameters."""

    def __init__(self, procs, table):
        self.procs, self.table = procs, table
        self.kav_calls = []  # (line, name)

    def run(self):
        for f in self.procs.functions.values():
            for n, stmt in walk(f.body):
                for e in expressions(stmt):
                    self.kind(e, f, f"{f.name}, line {n}")
        for title, items in self.procs.menus:
            for label, command in items:
                if command[0] != "call" or command[1] not in self.procs.functions or command[2]:
                    raise IgorError(f"menu item {label!r}: the command must call a procedure without arguments")

    def kind(self, e, f, where):
        k = e[0]
        if k == "num":
            return "number"
        if k == "str":
            return "string"
        if k == "var":
            if e[1] == "NaN":
                return "number"
            t = f.types.get(e[1])
            if t is None:
                raise IgorError(f"{where}: {e[1]} is not declared")
            return {"Variable": "number", "String": "string", "Wave": "wave"}[t]
        if k == "un":
            inner = self.kind(e[2], f, where)
            if e[1] == "$":
                if inner != "string":
                    raise IgorError(f"{where}: $ needs a string")
                return "wave name"
            return self.expect(inner, "number", where)
        if k == "bin":
            a, b = self.kind(e[2], f, where), self.kind(e[3], f, where)
            if e[1] == "+" and a == b == "string":
                return "string"
            self.expect(a, "number", where)
            return self.expect(b, "number", where)
        return self.call_kind(e, f, where)

    @staticmethod
    def expect(got, want, where):
        if got != want:
            raise IgorError(f"{where}: {want} expected, found a {got}")
        return got

    def call_kind(self, e, f, where):
        name, args = e[1], e[2]
        if name in self.table:
            ret, params = self.table[name]
            self.kav_calls.append((where, name))
            if len(args) != len(params):
                raise IgorError(f"{where}: {name} takes {len(params)} arguments, {len(args)} given")
            for arg, (pname, code) in zip(args, params):
                want = TYPE_NAMES[code]
                if want.endswith("by reference"):
                    declared = f.types.get(arg[1]) if arg[0] == "var" else None
                    if declared != ("Variable" if code == "0x1004" else "String"):
                        raise IgorError(f"{where}: {name}'s {pname} ({want}) needs a local "
                                        f"{'Variable' if code == '0x1004' else 'String'}")
                else:
                    got = self.kind(arg, f, where)
                    if got != want:
                        raise IgorError(f"{where}: {name}'s {pname} must be a {want}, found a {got}")
            return "string" if ret == "0x2000" else "number"
        if name in self.procs.functions:
            g = self.procs.functions[name]
            if len(args) != len(g.params):
                raise IgorError(f"{where}: {name} takes {len(g.params)} arguments")
            for arg, p in zip(args, g.params):
                want = {"Variable": "number", "String": "string", "Wave": "wave"}[g.types[p]]
                self.expect(self.kind(arg, f, where), want, where)
            return g.returns
        if name in BUILTINS:
            ret, params = BUILTINS[name]
            if len(args) != len(params):
                raise IgorError(f"{where}: {name} takes {len(params)} arguments here")
            for arg, want in zip(args, params):
                self.expect(self.kind(arg, f, where), want, where)
            return ret
        raise IgorError(f"{where}: unknown function {name}")


# ---------------------------------------------------------------- running

class Wave:
    def __init__(self, name, wtype, dims):
        self.name, self.type, self.dims = name, wtype, [int(d) for d in dims]
        self.xstart, self.xstep, self.xunits, self.dataunits, self.note = 0.0, 1.0, "", "", ""

    def cli_arg(self, resized):
        # The host's command line makes no wave of 0 points; a function that sets the
        # wave's length itself (the tag readers) gets one of 1 point instead.
        dims = [d or 1 for d in self.dims] if resized else self.dims
        return f"wave:{self.type}:" + "x".join(str(d) for d in dims)

    def update(self, d):
        self.type, self.dims = d["type"], d["dims"]
        self.xstart, self.xstep = d["xstart"], d["xstep"]
        self.xunits, self.dataunits, self.note = d["xunits"], d["dataunits"], d["note"]


class Return(Exception):
    def __init__(self, value):
        self.value = value


DIALOGS = ("kav_AbfFileOpenDialog", "kav_AbfBrowseForFolder")
RESIZING = ("kav_AbfReadTimeTags", "kav_AbfReadExternalTags")


class Interpreter:
    """Runs procedures; each kav_Abf call is one `HOST call NAME ARGS... --json`."""

    def __init__(self, procs, table, host_command, dialog_answers=()):
        self.procs, self.table, self.host = procs, table, list(host_command)
        self.answers = list(dialog_answers)
        self.waves = {}        # the current data folder
        self.history = []      # what Print and Printf printed
        self.calls = []        # (name, status, result) of every kav_Abf call
        self.problems = []     # host audits that were not clean
        self.pending = None    # (status, message) of an uncleared run-time error

    def run(self, name, *args):
        return self.call_user(self.procs.functions[name], list(args))

    def run_menu(self, label):
        for _, items in self.procs.menus:
            for item, command in items:
                if item == label:
                    return self.eval(command, {})
        raise IgorError(f"no menu item {label!r}")

    def call_user(self, f, args):
        env = dict(zip(f.params, args))
        try:
            self.block(f.body, env)
        except Return as r:
            return r.value
        return "" if f.returns == "string" else 0.0

    def block(self, body, env):
        for item in body:
            n, kind = item[0], item[1]
            if kind == "line":
                for s in item[2]:
                    self.simple(s, env)
                self.end_of_line(n)
            elif kind == "if":
                for cond, stmts in item[2]:
                    taken = self.truth(self.eval(cond, env))
                    self.end_of_line(n)
                    if taken:
                        self.block(stmts, env)
                        break
            elif kind == "for":
                self.simple(item[2], env)
                while self.truth(self.eval(item[3], env)):
                    self.end_of_line(n)
                    self.block(item[5], env)
                    self.simple(item[4], env)
                self.end_of_line(n)

    def end_of_line(self, n):
        if self.pending:
            status, message = self.pending
            raise IgorError(f"line {n}: the procedure stops with error {status}: {message}")

    @staticmethod
    def truth(v):
        return v != 0 and not (isinstance(v, float) and math.isnan(v))

    def simple(self, s, env):
        kind = s[0]
        if kind == "decl":
            for name, init in s[2]:
                default = {"Variable": 0.0, "String": None, "Wave": None}[s[1]]
                env[name] = self.eval(init, env) if init else default
                if s[1] == "Wave" and isinstance(env[name], str):
                    env[name] = self.waves.get(env[name])
        elif kind == "assign":
            value = self.eval(s[3], env)
            if s[2] == "+=":
                value = env[s[1]] + value
            elif s[2] == "-=":
                value = env[s[1]] - value
            env[s[1]] = value
        elif kind == "return":
            raise Return(self.eval(s[1], env) if s[1] else 0.0)
        elif kind == "expr":
            self.eval(s[1], env)
        elif kind == "make":
            dims = [self.eval(d, env) for d in s[2]]
            target = s[3]
            name = self.eval(target, env) if target[0] == "un" else target[1]
            w = Wave(name, s[1], dims)
            if not s[4]:
                self.waves[name] = w
            if s[4] or target[0] == "var":
                env[target[1]] = w
        elif kind == "setscale":
            vals = [self.eval(a, env) for a in s[2]]
            w = vals[-1]
            if s[1] == "x":
                w.xstart, w.xstep, w.xunits = vals[0], vals[1], vals[2] if len(vals) == 4 else w.xunits
            else:
                w.dataunits = vals[2]
        elif kind == "print":
            self.history.append(" ".join(self.text(self.eval(a, env)) for a in s[1]))
        elif kind == "printf":
            vals = [self.eval(a, env) for a in s[1]]
            self.history.append((vals[0] % tuple(vals[1:])).rstrip("\r"))
        elif kind == "column":
            m, src, col = env[s[1]], env[s[3]], self.eval(s[2], env)
            if len(m.dims) != 2 or not 0 <= col < m.dims[1] or src.dims != m.dims[:1]:
                raise IgorError(f"column {col} of {m.dims} cannot take a wave of {src.dims} points")

    @staticmethod
    def text(v):
        return v if isinstance(v, str) else f"{v:g}"

    def eval(self, e, env):
        k = e[0]
        if k in ("num", "str"):
            return e[1]
        if k == "var":
            return math.nan if e[1] == "NaN" else env.get(e[1])
        if k == "un":
            v = self.eval(e[2], env)
            return -v if e[1] == "-" else float(not self.truth(v)) if e[1] == "!" else v
        if k == "bin":
            op, a, b = e[1], self.eval(e[2], env), self.eval(e[3], env)
            if op == "+" and isinstance(a, str):
                if a is None or b is None:
                    raise IgorError("a null string was used")
                return a + b
            return {"+": lambda: a + b, "-": lambda: a - b, "*": lambda: a * b,
                    "/": lambda: a / b if b else math.copysign(math.inf, a) if a else math.nan,
                    "==": lambda: float(a == b), "!=": lambda: float(a != b), "<": lambda: float(a < b),
                    ">": lambda: float(a > b), "<=": lambda: float(a <= b), ">=": lambda: float(a >= b)}[op]()
        name, args = e[1], e[2]
        if name in self.table:
            return self.call_kav(name, args, env)
        if name in self.procs.functions:
            return self.call_user(self.procs.functions[name], [self.eval(a, env) for a in args])
        return self.builtin(name, [self.eval(a, env) for a in args])

    def builtin(self, name, a):
        if name == "GetRTError":
            status = self.pending[0] if self.pending else 0
            if a[0] == 1:
                self.pending = None
            return float(status)
        if name == "GetRTErrMessage":
            return self.pending[1] if self.pending else ""
        if name == "num2istr":
            return str(int(round(a[0])))
        if name == "cmpstr":
            return float((a[0].lower() > a[1].lower()) - (a[0].lower() < a[1].lower()))
        if name == "ItemsInList":
            return float(len([x for x in a[0].split(a[1])]) - (1 if a[0].endswith(a[1]) or not a[0] else 0))
        if name == "StringFromList":
            items = a[1].split(a[2])
            return items[int(a[0])] if 0 <= a[0] < len(items) else ""
        if name in ("NumberByKey", "StringByKey"):
            for item in a[1].split(a[3]):
                key, sep, value = item.partition(a[2])
                if sep and key.lower() == a[0].lower():
                    if name == "StringByKey":
                        return value
                    m = re.match(r"\s*[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?", value)
                    return float(m.group(0)) if m else math.nan
            return "" if name == "StringByKey" else math.nan
        if name == "CleanupName":
            s = re.sub(r"\W", "_", a[0])
            return (s if s[:1].isalpha() else "X" + s)[:31]
        if name == "numpnts":
            return float(math.prod(a[0].dims))
        if name == "DimDelta":
            return a[0].xstep
        if name == "WaveUnits":
            return a[0].xunits if a[1] == 0 else a[0].dataunits
        raise IgorError(f"built-in {name} is not modelled")

    def call_kav(self, name, arg_exprs, env):
        _, params = self.table[name]
        argv, refs, waves = [], {}, {}
        for i, (arg, (_, code)) in enumerate(zip(arg_exprs, params)):
            if code in ("0x1004", "0x3000"):
                value = env.get(arg[1])
                refs[i] = arg[1]
            else:
                value = self.eval(arg, env)
            if code == "0x4000":
                if value is not None:
                    waves[i] = value
                argv.append(value.cli_arg(name in RESIZING) if value is not None else "@null")
            elif code in ("0x2000", "0x3000"):
                if value is not None and value.startswith("@"):
                    raise IgorError(f"{name}: the host's command line cannot pass the text {value!r}")
                argv.append("@null" if value is None else value)
            else:
                argv.append(repr(float(value)))
        extra = []
        if name in DIALOGS:
            extra = ["--answer", self.answers.pop(0) if self.answers else "cancel"]
        cmd = self.host + extra + ["call", name] + argv + ["--json"]
        proc = subprocess.run(cmd, capture_output=True, text=True, encoding="latin-1")
        lines = [l for l in proc.stdout.splitlines() if l.startswith("{")]
        if proc.returncode != 0 or not lines:
            raise IgorError(f"{' '.join(cmd)} exited with {proc.returncode}: {proc.stdout}{proc.stderr}")
        out = json.loads(lines[-1])
        audit = out["audit"]
        if audit["leaked"] or audit["double_released"] or audit["use_after_release"] or audit["violations"]:
            self.problems.append(f"{name}: host audit {audit}")
        for i, var in refs.items():
            value = out["args"][i]
            env[var] = value if params[i][1] == "0x3000" else math.nan if value is None else float(value)
        for i, w in waves.items():
            w.update(out["args"][i])
        status = out["status"]
        result = out["result"]
        if status:
            self.pending = (status, out["error_text"] or f"error {status}")
        self.calls.append((name, status, result))
        if result is None:
            return None if self.table[name][0] == "0x2000" else math.nan
        return result if isinstance(result, str) else float(result)
