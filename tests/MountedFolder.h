#pragma once
// A small memory file system mounted on a folder of the test: a disk that fills up, or turns
// read-only, under the program's feet.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

// A small memory file system on a folder of the test. Root writes into a read-only folder
// too, so the refusal has to come from the mount.
class MountedFolder {
public:
    MountedFolder(const std::string& dir, std::size_t bytes) : dir_(dir) {
        std::filesystem::create_directories(dir);
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~MountedFolder() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    void Fill() {
        std::ofstream filler(dir_ + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }
    // Read-only from here on; without a mount (not root) the folder's rights refuse instead.
    bool MakeReadOnly() {
        if (mounted_)
            return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
        if (::geteuid() == 0) return false;
        return ::chmod(dir_.c_str(), 0555) == 0;
    }

private:
    std::string dir_;
    bool mounted_ = false;
};

