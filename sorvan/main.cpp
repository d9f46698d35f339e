// sorvan: ABF recordings on the command line, read through our ABF library and
// turned into Igor's own file formats, CSV, NumPy arrays and pictures with the
// plug-in's units, X scaling and wave notes.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "sorvan/commands.h"
#include "sorvan/names.h"
#if defined(SORVAN_HAVE_NWB)
#include "nwb/nwb.h"
#endif

namespace {

// Checks a channel or episode list on the command line, so a malformed one is a
// usage error before any file is touched.
CLI::Validator ListValidator(uint32_t lowest)
{
    return CLI::Validator(
        [lowest](std::string& text) {
            std::vector<uint32_t> values;
            std::string error;
            return sorvan::ParseList(text, lowest, &values, &error) ? std::string() : error;
        },
        "LIST");
}

// Breaks a paragraph into lines of at most `width` characters (CLI11 prints
// descriptions and footers as they are).
std::string Wrap(const std::string& text, std::size_t width = 78)
{
    std::string out, line, word;
    auto flush = [&]() {
        if (word.empty()) return;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        word.clear();
    };
    for (char c : text) {
        if (c == ' ') {
            flush();
        } else if (c == '\n') {
            flush();
            out += line + "\n";
            line.clear();
        } else {
            word += c;
        }
    }
    flush();
    return out + line;
}

const char* const kExportText =
    "Waves are named STEM_cN (channel N of a gap-free recording), STEM_cN_eNNN (channel N, episode NNN), "
    "STEM_sN_eNNN (the stimulus of channel N in episode NNN), STEM_tagtime and STEM_tagtext (the tags' times in "
    "seconds and their comments); STEM is the file's name made a name Igor takes, cut so that every name has at "
    "most 31 characters. Every wave has its X scaling in seconds, its units, and (samples) the wave note the "
    "kav_Sorvan plug-in attaches.\n\n"
    "ibw: one Igor binary wave file (version 5) a wave. itx: one Igor text file a recording with all its waves. "
    "csv: a header row with units, then the time and one column a channel (gap-free: STEM.csv) or one column an "
    "episode (STEM_cN.csv, STEM_sN.csv). npy: one NumPy array a channel (STEM_cN.npy, STEM_sN.npy), episodes x "
    "samples, shorter episodes filled up with NaN. Tags go into ibw, itx and nwb only.\n\n"
#if defined(SORVAN_HAVE_NWB)
    "nwb: one Neurodata Without Borders file (NWB 2.7.0) a recording, NAME.nwb for NAME.abf: per "
    "channel and episode (gap-free: per channel) the samples as a current-clamp series (units V, mV, uV), "
    "voltage-clamp series (A to fA) or plain patch-clamp series (other units), float32 values as above with the "
    "conversion to volts or amperes, and the stimulus of each episode where the protocol defines one; one device "
    "and electrode a channel, the icephys tables (each response with its stimulus, the channels of an episode "
    "together, the episodes in sequence), the tags. ABF files store the local start time without a zone: "
    "--utc-offset gives its offset, by default that of this machine's time zone on the recording's date; the "
    "file's notes say which. The stimulus is always there (--stimulus changes nothing); --double does not "
    "apply.\n\n"
#else
    "nwb: not in this build; the Linux build of sorvan writes NWB files.\n\n"
#endif
    "The files of a recording are written under temporary names and renamed when all of them are complete: an "
    "input that fails, or Ctrl+C, leaves none of its files behind.";

const char* const kPlotText =
    "The sweeps are overlaid; a gap-free trace (and a variable-length event recording, at its events' times) is "
    "drawn whole, reduced to the minimum and maximum of each pixel column so that spikes stay. The stimulus, "
    "where the protocol defines one, goes in a panel below. Axes are labelled with units; the title names the "
    "file and the protocol.";

const char* const kFooter = R"(Examples:
  sorvan info --brief *.abf
  sorvan header cell1.abf --key nOperationMode --key fADCSequenceInterval
  sorvan export cell1.abf --to ibw --stimulus -o waves/
  sorvan export *.abf --to npy --channel 0 --episodes 1-5 -o arrays/
  sorvan export recordings/*.abf --to nwb --utc-offset +01:00 -o archive/
  sorvan plot cell1.abf --channel 0 -o cell1.png

Exit status: 0 when every input was handled, 1 when any could not be (each
gets a one-line message and the others go on), 2 for a usage error.)";

// The program's help, then each subcommand's own under a heading "Command NAME:",
// indented, with every example a paragraph of its own: the layout help2man turns
// into a manual page with a section per subcommand.
std::string HelpAll(const CLI::App& app)
{
    auto lines = [](const std::string& text, auto each) {
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            each(text.substr(at, end - at));
            at = end + 1;
        }
    };
    std::string text = app.help();
    const std::size_t footer = text.find(kFooter);
    std::string out = text.substr(0, footer);
    for (const CLI::App* sub : app.get_subcommands({})) {
        out += "\nCommand " + sub->get_name() + ":\n";
        lines(sub->help("sorvan"), [&](const std::string& line) {
            if (line.rfind("Usage:", 0) == 0) out += "\n";
            out += (line.empty() ? "" : "  ") + line + "\n";
        });
    }
    out += "\n";
    lines(kFooter, [&](const std::string& line) {
        out += line + "\n";
        if (line.rfind("  sorvan ", 0) == 0) out += "\n";
    });
    return out;
}

}  // namespace

#if !defined(SORVAN_HAVE_CAIRO)
// Built without cairo (the Win32 build): the subcommand stays listed and says why
// it draws nothing.
bool sorvan::PlotAvailable() { return false; }
int sorvan::RunPlot(const PlotOptions&) { return kExitFailed; }
#endif

int main(int argc, char** argv)
{
    using namespace sorvan;
    CLI::App app{
        Wrap("sorvan reads ABF electrophysiology recordings through the kav_Sorvan ABF library and gives what the "
             "kav_Sorvan plug-in gives inside Igor Pro: a summary, the header, and the samples with their units, X "
             "scaling in seconds and wave notes, as Igor binary or text waves, CSV, NumPy arrays, NWB files, or a "
             "picture.")};
    app.name("sorvan");
    app.set_version_flag("--version", std::string("sorvan ") + SORVAN_VERSION);
    app.set_help_all_flag("--help-all", "Print the help of every subcommand");
    app.require_subcommand(1);
    app.footer(kFooter);

    InfoOptions info;
    CLI::App* infoCmd = app.add_subcommand("info", "What each recording holds");
    infoCmd->footer(
        Wrap("Per recording: format and version, operation mode, channels (logical, physical, name, "
             "units), sample rate, episodes and samples, duration, start date and time, protocol, "
             "creator, and the tags by type with the comment tags' times and texts."));
    infoCmd->add_option("FILE", info.files, "ABF files")->required();
    infoCmd->add_flag("--brief", info.brief, "One tab-separated line a file");
    infoCmd->add_flag("--json", info.json, "A JSON array with one object a file");

    HeaderOptions header;
    CLI::App* headerCmd = app.add_subcommand("header", "The header as key=value lines");
    headerCmd->footer(
        Wrap("The header as the plug-in's key=value catalogue gives it (the text kav_AbfMetaData "
             "returns, one key=value a line), or the values of the keys asked for."));
    headerCmd->add_option("FILE", header.file, "ABF file")->required();
    headerCmd->add_option("--key", header.keys, "Only this key's value, one a line (repeatable)");
    headerCmd->add_flag("--json", header.json, "A JSON object: numbers as numbers, lists as arrays");

    ExportOptions exp;
    CLI::App* exportCmd =
        app.add_subcommand("export", "Samples into Igor binary or text waves, CSV, NumPy arrays or NWB files");
    exportCmd->footer(Wrap(kExportText));
    exportCmd->add_option("FILE", exp.files, "ABF files")->required();
    exportCmd->add_option("--to", exp.format, "Output format")
        ->required()
#if defined(SORVAN_HAVE_NWB)
        ->check(CLI::IsMember({"ibw", "itx", "csv", "npy", "nwb"}));
#else
        ->check(CLI::IsMember({"ibw", "itx", "csv", "npy"}));
#endif
    exportCmd->add_option("--channel", exp.channels, "Logical channels from 0: N, a list 0,2 or all")
        ->check(ListValidator(0))
        ->capture_default_str();
    exportCmd->add_option("--episodes", exp.episodes, "Episodes from 1: a list 1,3,5-9 or all (not for gap-free)")
        ->check(ListValidator(1))
        ->capture_default_str();
    exportCmd->add_flag("--stimulus", exp.stimulus, "Also the stimulus waveform of each channel and episode");
    exportCmd->add_flag("--double", exp.asDouble, "Double-precision values (the single-precision samples widened)");
#if defined(SORVAN_HAVE_NWB)
    exportCmd
        ->add_option("--utc-offset", exp.utcOffset,
                     "nwb: the recording's offset from UTC, +HH:MM, -HH:MM or Z (default: this machine's time zone "
                     "on the recording's date)")
        ->check(CLI::Validator(
            [](std::string& text) {
                int minutes = 0;
                std::string error;
                return nwb::ParseUtcOffset(text, &minutes, &error) ? std::string() : error;
            },
            "OFFSET"));
#endif
    exportCmd->add_option("-o,--output", exp.folder, "Output folder (made when missing)")->capture_default_str();

    PlotOptions plot;
    CLI::App* plotCmd = app.add_subcommand("plot", "A picture of one channel (PNG, SVG or PDF)");
    plotCmd->footer(Wrap(kPlotText));
    plotCmd->add_option("FILE", plot.file, "ABF file")->required();
    plotCmd->add_option("--channel", plot.channel, "Logical channel from 0")->capture_default_str();
    plotCmd->add_option("--episodes", plot.episodes, "Episodes from 1: a list 1,3,5-9 or all")
        ->check(ListValidator(1))
        ->capture_default_str();
    plotCmd->add_option("-o,--output", plot.output, "OUT.png, OUT.svg or OUT.pdf (default: FILE's name .png)");
    plotCmd->add_option("--width", plot.width, "Width in pixels (points for SVG and PDF)")
        ->check(CLI::Range(200, 10000))
        ->capture_default_str();
    plotCmd->add_option("--height", plot.height, "Height in pixels (points for SVG and PDF)")
        ->check(CLI::Range(150, 10000))
        ->capture_default_str();

    // --help-all belongs to the program only.
    for (CLI::App* sub : {infoCmd, headerCmd, exportCmd, plotCmd}) sub->set_help_all_flag();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp&) {
        std::fputs(HelpAll(app).c_str(), stdout);
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    if (*infoCmd) return RunInfo(info);
    if (*headerCmd) return RunHeader(header);
    if (*exportCmd) {
        if (exp.format == "nwb" ? exp.asDouble : !exp.utcOffset.empty()) {
            std::fprintf(stderr, "sorvan: %s\n",
                         exp.asDouble ? "--double does not apply to nwb (its series hold the float32 samples)"
                                      : "--utc-offset applies to --to nwb only");
            return kExitUsage;
        }
        return RunExport(exp);
    }
    if (*plotCmd) {
        if (!PlotAvailable()) {
            std::fprintf(stderr,
                         "sorvan: this build draws no pictures (it is built without cairo); "
                         "use the Linux build's sorvan plot\n");
            return kExitFailed;
        }
        return RunPlot(plot);
    }
    return kExitUsage;
}
