#include "LockFileRunningInstances.hpp"

#include "platform/xdg/XdgDirectories.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quenlitor::platform::xdg {

namespace {

// The fallback folder is in /tmp, shared by every user: a folder is used only when it is a real
// folder of ours that nobody else can write into, or another user could hold our lock. The
// runtime directory always is one.
bool isPrivateFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

LockFileRunningInstances::LockFileRunningInstances(std::filesystem::path directory)
    : m_directory(std::move(directory)) {}

LockFileRunningInstances::~LockFileRunningInstances() {
    for (const auto& [identifier, descriptor] : m_held) {
        ::close(descriptor);
    }
}

std::filesystem::path LockFileRunningInstances::defaultDirectory() {
    if (const auto runtime = xdg::runtimeDir()) {
        return *runtime;
    }
    return std::filesystem::path("/tmp") / ("quenlitor-" + std::to_string(::getuid()));
}

std::filesystem::path LockFileRunningInstances::lockPath(std::string_view applicationId) const {
    std::string name(applicationId);
    std::ranges::replace(name, '/', '_');
    return m_directory / (name + ".lock");
}

bool LockFileRunningInstances::claimSingleInstance(std::string_view applicationId) {
    if (m_held.contains(applicationId)) {
        return true;
    }
    if (!isPrivateFolder(m_directory)) {
        return true;
    }
    const std::filesystem::path path = lockPath(applicationId);
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        return true;
    }
    int status = 0;
    do {
        status = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        const bool heldByAnother = errno == EWOULDBLOCK;
        ::close(descriptor);
        return !heldByAnother;
    }
    // For whoever looks at the file: which process holds it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(descriptor, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::write(descriptor, pid.data(), pid.size());
    }
    m_held.emplace(std::string(applicationId), descriptor);
    return true;
}

} // namespace quenlitor::platform::xdg
