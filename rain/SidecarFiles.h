#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <memory>
#include <string>

namespace quorvel {

// The first file beside path that shares its base name and is not a regular
// file, as folder/name; empty when there is none. GDAL opens a map file's
// companions by that name (.prj, .cpg, .dbf, .shx, .aux.xml, .ovr, _rpc.txt, ...) and
// would wait for ever on a FIFO among them, so a dataset is opened only when
// this is empty. Header-only: the map and the folder check share it without
// linking each other.
inline std::string IrregularCompanion(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = name.rfind('.');
    std::string stem = name.substr(0, dot == std::string::npos || dot == 0 ? name.size() : dot);
    const auto lower = [](std::string text) {
        for (char& c : text)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    stem = lower(stem);

    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return {};
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string other = lower(entry->d_name);
        // "_" for the likes of name_rpc.txt, which GDAL looks for too.
        if (!(other.size() > stem.size() && other.starts_with(stem) &&
              (other[stem.size()] == '.' || other[stem.size()] == '_')))
            continue;
        struct stat info {};
        // A link to nothing opens nothing, and cannot hold an open up.
        if (::stat((prefix + entry->d_name).c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            return prefix + entry->d_name;
    }
    return {};
}

}  // namespace quorvel
