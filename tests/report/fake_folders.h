// The install marker's folders in memory: a set of existing folders and
// files, for the marker's and the shell's tests.
#pragma once

#include <string>
#include <vector>

#include "report/install_marker.h"

namespace quorvel::testing {

class TFakeFolders final : public IFolders {
public:
    std::string Base = "/home/u/.local/share";
    std::vector<std::string> Folders{"/home/u/.local/share"};
    std::vector<std::string> Files;
    std::vector<std::string>* Trace = nullptr;

    std::string LookupLocalAppData() override { return Base; }
    std::string FallbackBaseFolder() const override { return "D:\\"; }
    char Separator() const override { return '/'; }
    bool FolderExists(const std::string& path) override {
        Note("exists " + path);
        for (const auto& f : Folders)
            if (f == path || f + "/" == path) return true;
        return false;
    }
    bool CreateFolder(const std::string& path) override {
        Note("create " + path);
        for (const auto& f : Files)
            if (f == path) return false;
        for (const auto& f : Folders)
            if (f == path) return false;
        Folders.push_back(path);
        return true;
    }

private:
    void Note(const std::string& s) {
        if (Trace) Trace->push_back(s);
    }
};

}  // namespace quorvel::testing
