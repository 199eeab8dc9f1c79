#include "imagebuild/signing.h"

#include "common/file_checks.h"

namespace sealbench {

std::optional<std::string> RefuseSignFiles(const SignRequest& request) {
    if (auto refusal = RefuseNonRegularInput(request.csfPath)) {
        return refusal;
    }
    return RefuseOutputOverInput(request.outputPath, {request.csfPath});
}

}  // namespace sealbench
