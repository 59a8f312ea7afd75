#include "Paths/DiskRoot.h"

#include "Environment/Environment.h"

#include <mutex>
#include <vector>

namespace {

std::mutex rootMutex;
std::string rootOverride;

std::string withoutTrailingSlash(std::string s)
{
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

} // namespace

std::string diskRoot()
{
    {
        std::lock_guard lock(rootMutex);
        if (!rootOverride.empty())
            return rootOverride;
    }
    if (std::optional<std::string> root = environmentValue(kDiskRootVariable))
        return withoutTrailingSlash(*root);
    return kDefaultDiskRoot;
}

void setDiskRoot(std::string root)
{
    std::lock_guard lock(rootMutex);
    rootOverride = root.empty() ? std::string() : withoutTrailingSlash(std::move(root));
}

std::string normalizeSystemPath(std::string_view systemPath)
{
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i <= systemPath.size()) {
        std::size_t j = systemPath.find('/', i);
        if (j == std::string_view::npos)
            j = systemPath.size();
        std::string_view part = systemPath.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (auto part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? "/" : out;
}

std::string hostPath(std::string_view systemPath)
{
    std::string normal = normalizeSystemPath(systemPath);
    std::string root = diskRoot();
    if (normal == "/")
        return root;
    return root == "/" ? normal : root + normal;
}

std::string systemPathForHostPath(std::string_view host)
{
    std::string root = diskRoot();
    if (root == "/")
        return normalizeSystemPath(host);
    if (host.substr(0, root.size()) != root)
        return {};
    std::string_view rest = host.substr(root.size());
    if (!rest.empty() && rest.front() != '/')
        return {};
    return normalizeSystemPath(rest);
}
