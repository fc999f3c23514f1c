#pragma once

#include "platform/BundleResources.hpp"

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <vector>

namespace quenlitor::platform::xdg {

// The application's identity and data files as installed on a free desktop. A resource is
// looked up by its file name in each search directory in turn; the first regular file found wins.
class XdgBundleResources final : public BundleResources {
public:
    // Larger than any data file of the application: readFile refuses more.
    static constexpr std::size_t maximumFileSize = std::size_t{64} << 20;

    explicit XdgBundleResources(std::vector<std::filesystem::path> searchDirectories = defaultSearchDirectories(),
                                std::size_t fileSizeLimit = maximumFileSize);

    // The installed data first, then a build tree's: $XDG_DATA_HOME/quenlitor-midi-texto, where
    // the user may put their own; the share folder of the prefix the executable is installed in
    // (bin/../share/quenlitor-midi-texto), so an installation anywhere finds its own data; each
    // $XDG_DATA_DIRS entry's quenlitor-midi-texto folder; then the executable's own folder, where
    // a build tree keeps the data beside the programs. Repeated folders are dropped.
    static std::vector<std::filesystem::path> defaultSearchDirectories();

    std::optional<std::string> applicationId() const override;
    // None for a name or extension that would leave the search directories ("..", "/").
    std::optional<std::filesystem::path> resourcePath(std::string_view name,
                                                        std::string_view extension) const override;
    // Throws Error with domain "posix", the system's error number as code and "<path>: <reason>"
    // as description; EFBIG for a file beyond the size limit, found before it is held whole,
    // also from a pipe or a device such as /dev/zero, and ENOMEM when memory runs out.
    std::vector<std::uint8_t> readFile(const std::filesystem::path& path) const override;

    const std::vector<std::filesystem::path>& searchDirectories() const { return m_searchDirectories; }

private:
    std::vector<std::filesystem::path> m_searchDirectories;
    std::size_t m_fileSizeLimit;
};

} // namespace quenlitor::platform::xdg
