// abfcompare FILE REFERENCE.json: prints every difference between our ABF library's
// answers for FILE and the vendor library's recorded answers, one per line.
// With a folder instead of FILE, the reference's own "file" is looked up in it (and
// the broken inputs are made in the system's temporary folder).
// Exit status: 0 no difference, 1 differences, 2 usage or reading error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "compare.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: abfcompare FILE|FOLDER REFERENCE.json\n");
        return 2;
    }
    abfcompare::Json ref;
    std::string error;
    if (!abfcompare::ParseJsonFile(argv[2], ref, error)) {
        fprintf(stderr, "abfcompare: %s\n", error.c_str());
        return 2;
    }
    std::vector<std::string> diffs;
    if (ref.contains("texts")) {
        diffs = abfcompare::CompareErrorTexts(ref);
    } else {
        std::string input = argv[1];
        FILE* probe = fopen(input.c_str(), "rb");
        bool isFile = probe != nullptr;
        if (probe) {
            // A folder opens on some systems but cannot be read.
            char c;
            isFile = fread(&c, 1, 1, probe) == 1 || feof(probe);
            fclose(probe);
        }
        if (!isFile) {
            const char* tmp = getenv("TMPDIR");
            if (!tmp) tmp = getenv("TEMP");
            input = abfcompare::PrepareInput(abfcompare::String(ref, "file"), argv[1], tmp ? tmp : ".");
        }
        diffs = abfcompare::CompareReference(ref, input);
    }
    for (const std::string& d : diffs) printf("%s: %s\n", abfcompare::String(ref, "file").c_str(), d.c_str());
    return diffs.empty() ? 0 : 1;
}
