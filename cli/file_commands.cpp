// hwc, csf, combine, sign and srec: the file tools that need no target. Each one
// drives the same core as its page, so a file made here is byte for byte the file
// the page would make. Success texts go to stdout, failures to stderr.
#include <iostream>
#include <memory>

#include "commands.h"
#include "convert/srecord.h"
#include "csf/csf_document.h"
#include "hwc/hwc_records.h"
#include "imagebuild/combine.h"
#include "imagebuild/signing.h"
#include "options.h"

namespace sealbench::cli {
namespace {

void Say(std::string_view text) { std::cout << text << std::endl; }
void Complain(std::string_view text) { std::cerr << text << std::endl; }

// Makes a repeatable option take one value per occurrence, so that it never
// swallows the positional arguments that follow it.
CLI::Option* OneValueEach(CLI::Option* option) { return option->allow_extra_args(false); }

// ---- hwc

// The page shows "0x" before its fields; on the command line the prefix may be typed.
std::string_view WithoutHexPrefix(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    return text;
}

struct HwcCommandOptions {
    std::string out;
    std::vector<std::string> records;
};

int RunHwc(const HwcCommandOptions& o) {
    std::vector<HwcRecord> records;
    for (const std::string& argument : o.records) {
        size_t colon = argument.find(':');
        if (colon == std::string::npos) {
            throw UsageError("A record is ADDR:DATA, not: " + argument);
        }
        HwcAddResult added = MakeHwcRecord(WithoutHexPrefix(std::string_view(argument).substr(0, colon)),
                                           WithoutHexPrefix(std::string_view(argument).substr(colon + 1)));
        if (!added.record) {
            throw UsageError(std::string(added.refusal) + ": " + argument);
        }
        records.push_back(*added.record);
    }
    Result<std::vector<HwcRefusal>> exported = ExportHwc(o.out, records);
    for (const HwcRefusal& refusal : exported.value) {
        const HwcRecord& refused = records[static_cast<size_t>(refusal.index)];
        Complain(refusal.message + " (" + refused.address + ":" + refused.data + ")");
    }
    if (!exported.Ok()) {
        Complain(exported.outcome.message);
        return kExitFailed;
    }
    Say(exported.outcome.message);
    return exported.value.empty() ? kExitOk : kExitFailed;
}

// ---- csf

struct CsfCommandOptions {
    std::string out;
    std::string code;
    std::string superRoot;
    std::string csfKey;
    std::vector<std::string> keys;
    std::vector<std::string> blocks;
    std::string type = "engineering";
    std::string uid = std::string(kCsfGenericUid);
};

// START and LENGTH of a block are hexadecimal like every other address on the
// command line; the CSF gets them with the "0x" that the page's cells start with.
std::string BlockHex(const std::string& field, const std::string& argument, size_t number, const char* what) {
    if (!ParseHexStrict(field)) {
        throw UsageError("--block " + argument + ": Block " + std::to_string(number) + ": the " + what +
                         " must be hexadecimal, 1 to 8 digits with or without 0x, not \"" + field + "\"");
    }
    return WithoutHexPrefix(field).size() == field.size() ? "0x" + field : field;
}

// FILE,START,LENGTH,KEYNAME, split at the last three commas so that a file
// name may hold commas; KEYNAME may be empty.
CsfBlock ParseBlock(const std::string& text, size_t number) {
    size_t third = text.rfind(',');
    size_t second = third == std::string::npos || third == 0 ? std::string::npos : text.rfind(',', third - 1);
    size_t first = second == std::string::npos || second == 0 ? std::string::npos : text.rfind(',', second - 1);
    if (first == std::string::npos) {
        throw UsageError("A block is FILE,START,LENGTH,KEYNAME, not: " + text);
    }
    CsfBlock block{FileNameOfPath(text.substr(0, first)), text.substr(first + 1, second - first - 1),
                   text.substr(second + 1, third - second - 1), text.substr(third + 1)};
    if (!block.fileName.empty()) {
        block.start = BlockHex(block.start, text, number, "starting address");
        block.length = BlockHex(block.length, text, number, "bytes to sign");
    }
    if (auto refusal = CheckCsfBlock(block, number)) {
        throw UsageError("--block " + text + ": " + *refusal);
    }
    return block;
}

int RunCsf(const CsfCommandOptions& o) {
    CsfDocument document;
    document.type = o.type == "product" ? kCsfTypeProduct : kCsfTypeEngineering;
    document.uid = o.uid;
    document.code = o.code;
    document.superRootPath = o.superRoot;
    document.csfKeyPath = o.csfKey;
    for (const std::string& key : o.keys) {
        document.keyNames.push_back(FileNameOfPath(key));
    }
    for (const std::string& block : o.blocks) {
        document.blocks.push_back(ParseBlock(block, document.blocks.size() + 1));
    }
    Outcome saved = SaveCsf(o.out, document);
    if (!saved.Ok()) {
        Complain(saved.message);
        return kExitFailed;
    }
    Say(kMsgCsfSaved);
    return kExitOk;
}

// ---- combine

struct CombineCommandOptions {
    std::string out;
    std::string os;
    std::string csf;
    std::string hwc;
    bool vireoA = false;
};

int RunCombineCommand(const CombineCommandOptions& o) {
    Outcome outcome = RunCombine({o.out, o.os, o.csf, o.hwc, AddressPreset(o.vireoA)});
    if (!outcome.Ok()) {
        Complain(outcome.detail.empty() ? outcome.message : outcome.message + ": " + outcome.detail);
        return kExitFailed;
    }
    Say(outcome.message);
    return kExitOk;
}

// ---- sign

int RunSign(const SignRequest& request) {
    Say(SignCommandLine(request));
    SignResult result = RunSigningTool(request);
    if (result.status != SignStatus::Ok) {
        Complain(result.outcome.message);
        return kExitFailed;
    }
    return kExitOk;
}

// ---- srec

struct SrecCommandOptions {
    std::string in;
    std::string out;
    std::string offset;
    std::string begin;
    std::string end;
    std::optional<long long> lineLength;
    std::optional<long long> addressSize;
    bool noHeader = false;
};

std::optional<uint32_t> HexOption(const std::string& text) {
    return text.empty() ? std::nullopt : ParseHexStrict(text);
}

int RunSrec(const SrecCommandOptions& o) {
    SRecordRequest request;
    request.inputPath = o.in;
    request.outputPath = o.out;
    request.begin = HexOption(o.begin);
    request.offset = HexOption(o.offset);
    request.end = HexOption(o.end);
    request.lineLength = o.lineLength;
    request.addressSize = o.addressSize;
    request.suppressHeaderAndFooter = o.noHeader;
    request.writeWhenOutsideInput = false;

    SRecordOptions options;
    Result<SRecordReport> converted = ConvertFile(options, request, nullptr);
    for (const std::string& message : converted.value.messages) {
        if (converted.Ok() && message == kMsgConvertFinished) {
            Say(message);
        } else {
            Complain(message);
        }
    }
    // A range outside the file has nothing to convert: a script must not take that
    // for a good conversion, and the output is left as it was.
    return converted.Ok() && !converted.value.warned ? kExitOk : kExitFailed;
}

}  // namespace

void AddFileCommands(CLI::App& app, int& status) {
    auto hwc = std::make_shared<HwcCommandOptions>();
    CLI::App* hwcCommand = app.add_subcommand("hwc", "Export register writes as an HWC file");
    hwcCommand->add_option("OUT", hwc->out, "HWC file to write")->required();
    hwcCommand->add_option("RECORDS", hwc->records, "ADDR:DATA, up to 8 hexadecimal digits each")->required();
    hwcCommand->callback([hwc, &status] { status = RunHwc(*hwc); });

    auto csf = std::make_shared<CsfCommandOptions>();
    CLI::App* csfCommand = app.add_subcommand("csf", "Write a CSF text file for the signing tool");
    csfCommand->add_option("OUT", csf->out, "CSF file to write")->required();
    csfCommand->add_option("--code", csf->code, "Value of the CODE line")->required();
    csfCommand->add_option("--super-root", csf->superRoot, "Super-root certificate")->required();
    csfCommand->add_option("--csf-key", csf->csfKey, "CSF-key certificate")->required();
    OneValueEach(csfCommand->add_option("--key", csf->keys, "Further key certificate, repeatable; the first is KEY2"));
    OneValueEach(csfCommand->add_option(
        "--block", csf->blocks,
        "FILE,START,LENGTH,KEYNAME, repeatable; START and LENGTH hexadecimal (0x optional); KEYNAME is the file "
        "name (after the last backslash) of a --key"));
    csfCommand->add_option("--type", csf->type, "engineering (default) or product")
        ->check(CLI::IsMember({"engineering", "product"}));
    csfCommand->add_option("--uid", csf->uid, "Value of the UID line (default SEKUREL_GENERIC_UID)");
    csfCommand->callback([csf, &status] { status = RunCsf(*csf); });

    auto combine = std::make_shared<CombineCommandOptions>();
    CLI::App* combineCommand = app.add_subcommand("combine", "Combine HWC, signed CSF and image into one file");
    combineCommand->add_option("OUT", combine->out, "Combined file to write")->required();
    combineCommand->add_option("--os", combine->os, "Application image")->required();
    combineCommand->add_option("--csf", combine->csf, "Signed CSF binary")->required();
    combineCommand->add_option("--hwc", combine->hwc, "HWC file")->required();
    combineCommand->add_flag("--vireoa", combine->vireoA, "Addresses in the C800 window instead of A000");
    combineCommand->callback([combine, &status] { status = RunCombineCommand(*combine); });

    auto sign = std::make_shared<SignRequest>();
    CLI::App* signCommand = app.add_subcommand("sign", "Run sekurel_build (found on PATH) on a CSF file");
    signCommand->add_option("CSF", sign->csfPath, "CSF text file")->required();
    signCommand->add_option("OUT", sign->outputPath, "Signed CSF binary to produce")->required();
    signCommand->add_option("--identifier", sign->identifier, "Identifier passed to the tool");
    signCommand->footer(
        "Exit status 1 when the tool cannot be started, fails, or exits 0 without writing a new, non-empty OUT.");
    signCommand->callback([sign, &status] { status = RunSign(*sign); });

    auto srec = std::make_shared<SrecCommandOptions>();
    CLI::App* srecCommand = app.add_subcommand("srec", "Convert a binary file to S-records");
    srecCommand->add_option("IN", srec->in, "Binary file")->required();
    srecCommand->add_option("OUT", srec->out, "S-record file to write")->required();
    srecCommand->add_option("--offset", srec->offset, "Address of the first record (default: begin)")
        ->check(HexValue());
    srecCommand->add_option("--begin", srec->begin, "First byte of the file to convert (default 0)")->check(HexValue());
    srecCommand->add_option("--end", srec->end, "Last byte of the file to convert (default: the last)")
        ->check(HexValue());
    // The page clamps these fields; a value typed on a command line outside the range
    // is refused rather than silently changed.
    srecCommand
        ->add_option("--line-length", srec->lineLength,
                     "Data bytes per record, 8 to 32 (default 32); another value is refused")
        ->check(CLI::Range(kMinLineLength, kMaxLineLength));
    srecCommand
        ->add_option("--address-size", srec->addressSize,
                     "Address bytes, 2 to 4 (default 2, raised when the addresses need more); another value is refused")
        ->check(CLI::Range(kMinAddressBytes, kMaxAddressBytes));
    srecCommand->add_flag("--no-header", srec->noHeader, "No header, count and termination records");
    srecCommand->callback([srec, &status] { status = RunSrec(*srec); });
}

}  // namespace sealbench::cli
