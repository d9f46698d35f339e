// sorvan: ABF recordings on the command line, read through our ABF library and
// turned into Igor's own file formats, CSV, NumPy arrays and pictures with the
// plug-in's units, X scaling and wave notes.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "sorvan/commands.h"
#include "sorvan/names.h"

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

const char* const kFooter = R"(Examples:
  sorvan info --brief *.abf
  sorvan header cell1.abf --key nOperationMode --key fADCSequenceInterval
  sorvan export cell1.abf --to ibw --stimulus -o waves/
  sorvan export *.abf --to npy --channel 0 --episodes 1-5 -o arrays/
  sorvan plot cell1.abf --channel 0 -o cell1.png

Exit status: 0 when every input was handled, 1 when any could not be (each
gets a one-line message and the others go on), 2 for a usage error.)";

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
        "sorvan reads ABF electrophysiology recordings through the kav_Sorvan ABF library and\n"
        "gives what the kav_Sorvan plug-in gives inside Igor Pro: a summary, the header, and the\n"
        "samples with their units, X scaling in seconds and wave notes, as Igor binary or text\n"
        "waves, CSV, NumPy arrays, or a picture."};
    app.name("sorvan");
    app.set_version_flag("--version", std::string("sorvan ") + SORVAN_VERSION);
    app.set_help_all_flag("--help-all", "Print the help of every subcommand");
    app.require_subcommand(1);
    app.footer(kFooter);

    InfoOptions info;
    CLI::App* infoCmd = app.add_subcommand(
        "info",
        "Per recording: format and version, operation mode, channels (logical, physical, name, units), sample "
        "rate, episodes and samples, duration, start date and time, protocol, creator, tags by type with the "
        "comment tags' texts.");
    infoCmd->add_option("FILE", info.files, "ABF files")->required();
    infoCmd->add_flag("--brief", info.brief, "One tab-separated line a file");
    infoCmd->add_flag("--json", info.json, "A JSON array with one object a file");

    HeaderOptions header;
    CLI::App* headerCmd = app.add_subcommand(
        "header",
        "The header as the plug-in's key=value catalogue gives it (the text kav_AbfMetaData returns), one "
        "key=value a line.");
    headerCmd->add_option("FILE", header.file, "ABF file")->required();
    headerCmd->add_option("--key", header.keys, "Only this key's value, one a line (repeatable)");
    headerCmd->add_flag("--json", header.json, "A JSON object: numbers as numbers, lists as arrays");

    ExportOptions exp;
    CLI::App* exportCmd = app.add_subcommand(
        "export",
        "Samples into files. Waves are named STEM_cN (a gap-free channel), STEM_cN_eNNN (channel N, episode "
        "NNN), STEM_sN_eNNN (stimulus of channel N), STEM_tagtime and STEM_tagtext (tag times in seconds and "
        "comments), STEM being the file name made a valid Igor name. ibw: one Igor binary wave file (version 5) "
        "a wave, with X scaling in seconds, units and the plug-in's wave note. itx: one Igor text file a "
        "recording with all its waves. csv: time and one column a channel (gap-free: STEM.csv) or a column an "
        "episode (STEM_cN.csv, STEM_sN.csv), units in the header row. npy: one array a channel (STEM_cN.npy, "
        "STEM_sN.npy), episodes x samples, shorter episodes filled up with NaN. Each file is written under a "
        "temporary name and renamed when all files of its recording are complete.");
    exportCmd->add_option("FILE", exp.files, "ABF files")->required();
    exportCmd->add_option("--to", exp.format, "Output format")
        ->required()
        ->check(CLI::IsMember({"ibw", "itx", "csv", "npy"}));
    exportCmd->add_option("--channel", exp.channels, "Logical channels from 0: N, a list 0,2 or all")
        ->check(ListValidator(0))
        ->capture_default_str();
    exportCmd->add_option("--episodes", exp.episodes, "Episodes from 1: a list 1,3,5-9 or all (not for gap-free)")
        ->check(ListValidator(1))
        ->capture_default_str();
    exportCmd->add_flag("--stimulus", exp.stimulus, "Also the stimulus waveform of each channel and episode");
    exportCmd->add_flag("--double", exp.asDouble, "Double-precision values (the single-precision samples widened)");
    exportCmd->add_option("-o,--output", exp.folder, "Output folder (made when missing)")->capture_default_str();

    PlotOptions plot;
    CLI::App* plotCmd = app.add_subcommand(
        "plot",
        "A picture of one channel: the sweeps overlaid (a gap-free trace reduced to the minimum and maximum of "
        "each pixel column, so spikes stay), the stimulus in a panel below, axes labelled with units, the file "
        "name and protocol in the title. PNG, SVG or PDF by the output's extension.");
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    if (*infoCmd) return RunInfo(info);
    if (*headerCmd) return RunHeader(header);
    if (*exportCmd) return RunExport(exp);
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
