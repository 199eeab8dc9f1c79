#include "download/run/range_run.h"

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <optional>

#include "download/plan/download_layout.h"
#include "download/run/fast_run.h"

namespace sealbench {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string Plural(uint32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// One range of the run: an image (or, for Erase, a span) and where it goes.
struct Item {
    std::string name;  // as the layout names the file; empty for a run of one image
    std::string path;
    bootwire::FlashRange range;
    bool verify = true;
};

// Follows the session's reports for a run of several ranges and passes each change
// on once: stages as the run's stages, bytes counted across the ranges.
class RangeRelay {
public:
    RangeRelay(RunObserver& observer, OperationType operation, uint64_t total)
        : observer_(observer), operation_(operation), total_(total) {}

    // The next range: `base` bytes of the run lie before it; `last`: none after it.
    void BeginRange(uint64_t base, bool last) {
        base_ = base;
        last_ = last;
    }

    void operator()(const bootwire::StreamProgress& p) {
        if (!started_) {
            started_ = true;
            observer_.DownloadStarted(p.loadSize, static_cast<uint32_t>(total_));
        }
        if (p.loadBytes > sent_) {
            observer_.BytesSent(static_cast<size_t>(p.loadBytes - sent_));
            sent_ = p.loadBytes;
        }
        if (p.stage >= bootwire::StreamStage::Connecting && !flashing_) {
            flashing_ = true;
            observer_.FlashingDownloadDone();
            observer_.FlashingStarted();
            observer_.FlashWritten(0);
        }
        const unsigned stage = flashing_ ? StageOf(p.stage) : 0;
        if (stage == 0) return;
        if ((stagesSeen_ & stage) == 0) {
            stagesSeen_ |= stage;
            // Each stage counts from nothing, shown before the stage is.
            written_ = 0;
            observer_.FlashWritten(0);
            observer_.StageEntered(stage);
        }
        const uint64_t bytes = base_ + p.bytesProgrammed;
        if (bytes > written_) {
            written_ = bytes;
            observer_.FlashWritten(written_);
        }
    }

private:
    unsigned StageOf(bootwire::StreamStage stage) const {
        using S = bootwire::StreamStage;
        switch (operation_) {
            case OperationType::Verify:
                return stage == S::Comparing || stage == S::Verifying ? unsigned{kStageVerifying} : 0u;
            case OperationType::Erase:
                return stage == S::Erasing ? unsigned{kStageErasing} : 0u;
            default:
                // A layout's images are programmed one after the other; the bar
                // verifies once, with the last.
                if (stage == S::Programming) return kStageProgramming;
                if (stage == S::Verifying) return last_ ? unsigned{kStageVerifying} : unsigned{kStageProgramming};
                return 0;
        }
    }

    RunObserver& observer_;
    OperationType operation_;
    uint64_t total_;
    uint64_t base_ = 0;
    bool last_ = true;
    bool started_ = false;
    bool flashing_ = false;
    unsigned stagesSeen_ = 0;
    uint64_t sent_ = 0;
    uint64_t written_ = 0;
};

std::vector<Item> ItemsOf(const RunPlan& plan) {
    const bool nand = plan.flashType == FlashType::Nand;
    std::vector<Item> items;
    if (plan.layout) {
        for (const LayoutImage& image : plan.layout->images) {
            Item item;
            item.name = image.file;
            item.path = image.path;
            item.range.address = nand ? image.offset : plan.preset->norFlashStart + image.offset;
            item.range.size = static_cast<uint32_t>(image.size);
            item.range.partitionEnd = nand ? image.offset + image.partitionSize - 1 : 0;
            item.range.nand = nand;
            item.verify = image.verify;
            items.push_back(std::move(item));
        }
        return items;
    }
    Item item;
    item.path = plan.imagePath;
    item.range.address = plan.address;
    item.range.size = static_cast<uint32_t>(plan.operation == OperationType::Erase ? plan.eraseLength : plan.imageSize);
    item.range.partitionEnd = nand && plan.partitionSize != 0 ? plan.address + plan.partitionSize - 1 : 0;
    item.range.nand = nand;
    if (plan.operation == OperationType::Erase) {
        // The library takes a NOR range from an even address, a NAND one from a
        // NAND block; the sectors or blocks that cover the range are erased anyway.
        const uint32_t unit = nand ? kNandBlockSize : 2;
        const uint32_t start = item.range.address - item.range.address % unit;
        item.range.size += item.range.address - start;
        item.range.address = start;
    }
    items.push_back(std::move(item));
    return items;
}

// An erase error of the library's own refusal of the job says why when the address is odd.
Outcome WithAddressHint(Outcome outcome, const RunPlan& plan) {
    if (outcome.message == "Flashing Erase Error\n" && outcome.detail.empty() && !plan.layout) {
        outcome.detail = RefusedAddressHint(plan);
    }
    return outcome;
}

std::string Place(const bootwire::FlashRange& range) { return (range.nand ? "offset " : "") + Hex(range.address); }

// What one image's range came to, as its status line.
std::string ImageLine(const Item& item, const bootwire::RangeReport& r, size_t size, bool everyBlock, bool written) {
    const std::string what = item.name.empty() ? std::string() : item.name + " at " + Place(item.range) + ": ";
    std::string line = r.readBack ? "Image verified: " + what + "the flash holds CRC-32 " + Hex(r.flashCrc) +
                                        ", as the image (" + std::to_string(size) + " bytes)"
                                  : "Image written: " + what + std::to_string(size) +
                                        " bytes, not read back as a whole (verify = false)";
    if (!written) return line;
    if (everyBlock) return line + "; every block sent";
    if (r.blocks != 0 && r.blocksSent < r.blocks) {
        line += "; " + std::to_string(r.blocks - r.blocksSent) + " of " + Plural(r.blocks, "block", "blocks") +
                " already in flash, not sent";
    }
    return line;
}

std::string ErasedLine(const bootwire::RangeReport& r, bool nand) {
    std::string line = "Erased " + Hex(r.erased.start) + "-" + Hex(r.erased.end - 1) + ": " +
                       Plural(r.erasedUnits, nand ? "block" : "sector", nand ? "blocks" : "sectors") + " of " +
                       (nand ? "NAND" : "NOR") + " flash";
    if (r.badBlocksSkipped != 0) line += ", " + Plural(r.badBlocksSkipped, "bad block", "bad blocks") + " skipped";
    return line;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!line.empty()) text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

}  // namespace

std::string DiffersLine(const bootwire::RangeReport::Span& span) {
    return "differs: " + Hex(span.start) + "-" + Hex(span.end - 1);
}

Outcome RangedRun(bootwire::Link& link, const RunPlan& plan, RunObserver& observer) {
    const std::vector<Item> items = ItemsOf(plan);
    const bool erase = plan.operation == OperationType::Erase;
    const bool verify = plan.operation == OperationType::Verify;
    auto read = [](const Item& item) -> std::optional<std::vector<uint8_t>> {
        const size_t size = FileSizeOf(item.path).value_or(0);
        std::vector<uint8_t> bytes(size);
        if (size == 0 || size != item.range.size || !ReadWholeFile(item.path, bytes.data(), size)) return std::nullopt;
        return bytes;
    };
    auto unreadable = [](const Item& item) {
        return Outcome::Failure(FailureKind::File, "Can't open the Image File",
                                FileProblem(item.path, "The image file") + (item.name.empty() ? "" : " (it changed)"));
    };
    // One image alone is named in the parameter block, so that a library that
    // speaks only the first version of streaming can still take it.
    std::vector<uint8_t> first;
    const bool single = !erase && !verify && !plan.layout;
    if (!erase) {
        std::optional<std::vector<uint8_t>> bytes = read(items.front());
        if (!bytes) return unreadable(items.front());
        first = std::move(*bytes);
    }
    const bootwire::FlashRange& at = items.front().range;
    std::optional<BuiltinStream> stream =
        MakeBuiltinStream(plan.processor, plan.flashType, at.address, single ? plan.partitionSize : 0,
                          single ? std::span<const uint8_t>(first) : std::span<const uint8_t>(), plan.fastBaud);
    if (!stream) {
        return Outcome::Failure(FailureKind::File, "The built-in flash library is not available in this build");
    }
    RangeRelay relay(observer, plan.operation, erase ? plan.eraseLength : plan.imageSize);
    bootwire::StreamReport session;
    if (bootwire::Error e = link.OpenRanges(stream->job, std::ref(relay), &session); e != bootwire::Error::Ok) {
        return WithAddressHint(StreamOutcome(link, e, session, plan.fastBaud, plan.rateChoice, plan.imageSize), plan);
    }

    bootwire::RangeWrite how;
    how.everyBlock = plan.everyBlock;
    std::vector<std::string> lines;
    std::vector<bootwire::RangeReport::Span> differing;
    uint32_t blocks = 0, skipped = 0, differingBlocks = 0;
    uint64_t base = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        std::vector<uint8_t> image;
        if (!erase) {
            if (i == 0) {
                image = std::move(first);
            } else if (std::optional<std::vector<uint8_t>> bytes = read(item)) {
                image = std::move(*bytes);
            } else {
                link.CloseRanges();
                return unreadable(item);
            }
        }
        relay.BeginRange(base, i + 1 == items.size());
        bootwire::RangeReport r;
        bootwire::Error e = bootwire::Error::Ok;
        if (erase) {
            e = link.EraseRange(item.range, &r);
        } else if (verify) {
            e = link.VerifyRange(item.range, image, &r);
        } else {
            how.readBack = item.verify;
            e = link.WriteRange(item.range, image, how, &r);
        }
        if (e != bootwire::Error::Ok) {
            bootwire::StreamReport failed = session;
            link.CloseRanges(&session);
            failed.reached = bootwire::StreamStage::Programming;
            failed.diagnostics = r.diagnostics;
            failed.libraryState = r.libraryState;
            failed.slowerMayHelp = session.slowerMayHelp;
            Outcome outcome =
                WithAddressHint(StreamOutcome(link, e, failed, plan.fastBaud, plan.rateChoice, image.size()), plan);
            if (!item.name.empty() && outcome.kind != FailureKind::Stopped) {
                outcome.detail = Joined({item.name + " at " + Place(item.range) + " failed", outcome.detail});
            }
            return outcome;
        }
        base += erase ? item.range.size : image.size();
        blocks += r.blocks;
        skipped += r.blocks - r.blocksSent;
        differingBlocks += r.blocksDiffering;
        differing.insert(differing.end(), r.differing.begin(), r.differing.end());
        if (erase) {
            lines.push_back(ErasedLine(r, item.range.nand));
        } else if (!verify) {
            lines.push_back(ImageLine(item, r, image.size(), how.everyBlock, true));
            // A layout's images are told as each ends.
            if (plan.layout) observer.StatusLine(lines.back());
        } else if (r.differing.empty()) {
            lines.push_back(ImageLine(item, r, image.size(), false, false));
        }
        for (const std::string& d : r.diagnostics) observer.Diagnostic(d);
    }
    link.CloseRanges(&session);
    if (!erase && !verify && !how.everyBlock) observer.BlocksCompared(blocks, skipped);

    if (verify && !differing.empty()) {
        std::vector<std::string> spans;
        for (const auto& span : differing) spans.push_back(DiffersLine(span));
        return Outcome::Failure(FailureKind::Target,
                                "The flash differs from the image in " + Plural(differingBlocks, "block", "blocks") +
                                    " of " + std::to_string(blocks),
                                Joined(spans), Joined(session.diagnostics));
    }
    Outcome outcome = Outcome::Success(erase    ? "Erase Completed"
                                       : verify ? "Verify Completed"
                                                : "Flashing Completed\n");
    if (!plan.layout) outcome.detail = Joined(lines);
    outcome.diagnostic = Joined(session.diagnostics);
    return outcome;
}

}  // namespace sealbench
