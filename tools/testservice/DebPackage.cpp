#include "DebPackage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace dm {

namespace {

// An octal number right-aligned in a field of width bytes, the last one NUL.
void Octal(char* field, size_t width, unsigned long long value) {
    std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1), value);
}

// One ustar entry: a file or, with a name ending in "/", a folder.
void TarEntry(std::string& tar, const std::string& name, const std::string& content) {
    char header[512] = {};
    const bool folder = name.back() == '/';
    std::memcpy(header, name.data(), std::min<size_t>(name.size(), 99));
    Octal(header + 100, 8, folder ? 0755 : 0644);
    Octal(header + 108, 8, 0);
    Octal(header + 116, 8, 0);
    Octal(header + 124, 12, content.size());
    Octal(header + 136, 12, 1700000000);
    header[156] = folder ? '5' : '0';
    std::memcpy(header + 257, "ustar", 6);
    std::memcpy(header + 263, "00", 2);
    std::memcpy(header + 265, "root", 4);
    std::memcpy(header + 297, "root", 4);
    std::memset(header + 148, ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : header) sum += c;
    std::snprintf(header + 148, 8, "%06o", sum);
    header[155] = ' ';
    tar.append(header, sizeof header);
    tar += content;
    tar.append((512 - content.size() % 512) % 512, '\0');
}

std::string TarEnd(std::string tar) {
    tar.append(1024, '\0');
    return tar;
}

void ArMember(std::string& ar, const std::string& name, const std::string& content) {
    char header[61];
    std::snprintf(header, sizeof header, "%-16s%-12d%-6d%-6d%-8s%-10zu`\n", name.c_str(), 1700000000, 0, 0, "100644",
                  content.size());
    ar.append(header, 60);
    ar += content;
    if (content.size() % 2) ar += '\n';
}

} // namespace

std::string MakeTestPackage(const std::string& version, long long minimumSize) {
    const std::string control = "Package: invara-desktop-manager-testupdate\n"
                                "Version: " + version + "\n"
                                "Architecture: all\n"
                                "Maintainer: Invara local test service <test@localhost>\n"
                                "Description: update offered by the Invara local test service\n"
                                " Holds one documentation file and nothing else.\n";
    std::string controlTar;
    TarEntry(controlTar, "./", {});
    TarEntry(controlTar, "./control", control);

    const std::string doc = "./usr/share/doc/invara-desktop-manager-testupdate/";
    std::string readme = "Offered as an update by the Invara local test service.\n";
    std::string deb;
    // Built twice at most: the second time the file is grown by what the first one lacked, and
    // by one tar block for the padding the first one had.
    for (int round = 0; round < 2; ++round) {
        std::string dataTar;
        for (const std::string& folder : {std::string("./"), std::string("./usr/"), std::string("./usr/share/"),
                                          std::string("./usr/share/doc/"), doc})
            TarEntry(dataTar, folder, {});
        TarEntry(dataTar, doc + "README", readme);
        deb = "!<arch>\n";
        ArMember(deb, "debian-binary", "2.0\n");
        ArMember(deb, "control.tar", TarEnd(controlTar));
        ArMember(deb, "data.tar", TarEnd(std::move(dataTar)));
        if (minimumSize <= 0 || deb.size() >= static_cast<size_t>(minimumSize)) break;
        readme.append(static_cast<size_t>(minimumSize) - deb.size() + 512, '#');
    }
    return deb;
}

} // namespace dm
