// The data file lookup, the same on every OS.
#include "platform/platform.h"

#include <filesystem>
#include <system_error>

#if !defined(FENK_DATA_DIR) || !defined(FENK_PACKAGE_DATA_DIR)
#error "FENK_DATA_DIR and FENK_PACKAGE_DATA_DIR must name the installed data directories"
#endif

namespace platform {
namespace {

// A directory of that name would pass an existence test but is never the
// data file that was asked for.
bool IsExistingFile(const std::filesystem::path& candidate) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(candidate, error);
    return !error && std::filesystem::exists(status) &&
           !std::filesystem::is_directory(status);
}

}  // namespace

std::string ResolveDataFile(const std::string& path) {
    if (path.empty()) return path;
    // Paths are UTF-8 on every OS (on Windows the program's code page).
    const std::filesystem::path given = std::filesystem::u8path(path);
    if (given.is_absolute() || IsExistingFile(given)) return path;

    const std::string executableDirectory = ExecutableDirectory();
    if (!executableDirectory.empty()) {
        const std::filesystem::path folder = std::filesystem::u8path(executableDirectory);
        const std::filesystem::path beside = folder / given;
        if (IsExistingFile(beside)) return beside.u8string();
        // An installed tree moved away from the prefix it was built for (a
        // package unpacked elsewhere, `cmake --install --prefix`) still has
        // its data at <prefix>/share/fenk beside <prefix>/bin. The
        // executable's folder has no symbolic links left in it, so dropping
        // its last part names the same folder as "..".
        const std::filesystem::path relocated =
            folder.parent_path() / "share" / "fenk" / given;
        if (IsExistingFile(relocated)) return relocated.u8string();
    }
    // Where `cmake --install` puts the data, then where the packages do.
    for (const char* dataDirectory : {FENK_DATA_DIR, FENK_PACKAGE_DATA_DIR}) {
        const std::filesystem::path installed = std::filesystem::u8path(dataDirectory) / given;
        if (IsExistingFile(installed)) return installed.u8string();
    }
    return path;
}

}  // namespace platform
