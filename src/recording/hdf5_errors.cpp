#include "recording/hdf5_errors.h"

#include <hdf5.h>

#include <string_view>
#include <vector>

namespace ostrel::recording::export_detail {
namespace {

herr_t collectDescription(unsigned /*position*/, const H5E_error2_t *error, void *texts) {
    static_cast<std::vector<std::string> *>(texts)->emplace_back(error->desc ? error->desc : "");
    return 0;
}

}  // namespace

std::string systemReasonIn(std::string_view text) {
    constexpr std::string_view kKey = "error message = '";
    const std::size_t start = text.find(kKey);
    if (start == std::string_view::npos) return {};
    const std::size_t end = text.find('\'', start + kKey.size());
    if (end == std::string_view::npos) return {};
    return std::string(text.substr(start + kKey.size(), end - start - kKey.size()));
}

void silenceHdf5Errors() {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

std::string takeHdf5Error() {
    std::vector<std::string> texts;  // from the API call inwards
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, collectDescription, &texts);
    H5Eclear2(H5E_DEFAULT);
    for (const std::string &text : texts) {
        if (std::string reason = systemReasonIn(text); !reason.empty()) return reason;
    }
    return texts.empty() ? std::string() : texts.back();
}

}  // namespace ostrel::recording::export_detail
