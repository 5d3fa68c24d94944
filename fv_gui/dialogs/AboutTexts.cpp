#include "fv_gui/dialogs/AboutTexts.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "fv_gui/settings/Version.h"

namespace fv::dialogs {
namespace {

std::string FieldText(const char (&field)[kVersionTextSize]) {
    return std::string(field, ::strnlen(field, kVersionTextSize));
}

}  // namespace

std::string ProgramVersionLine() {
    char line[96];
    std::snprintf(line, sizeof line, "GUI v%d.%02d (build %d) %s", kProgramVersionMajor, kProgramVersionMinor,
                  kProgramBuild, kProgramReleaseTag);
    return line;
}

std::string DriverVersionLine(const DriverVersionInfo& info) {
    std::string tag = FieldText(info.tag);
    for (char& c : tag) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    char head[64];
    std::snprintf(head, sizeof head, "v%u.%02u (build %u-", info.major, info.minor, info.build);
    return head + FieldText(info.codeName) + ") " + tag;
}

std::string CreditsMarkup() {
    return "\n\n<p>\n"
           "<font face=\"Tahoma\" size=\"13\" style=\"b\" align=\"center\">Ferrovane\n</font>"
           "<font face=\"Tahoma\" size=\"12\" align=\"center\">"
           "Thank you for keeping an eye on your connections.\n"
           "Updates, blocklists and help:\n"
           "<a href=\"https://ferrovane.example.org/\" color=\"0,0,255\" style=\"u\">ferrovane.example.org</a>\n"
           "<br>"
           "Made with the help of\n"
           "<br>"
           "Ada Brennick - filter engine reviews\n"
           "Tomasz Wierzba - packet paths on real adapters\n"
           "Lucia Ferreira - blocklist formats\n"
           "Noor Haddad - artwork and icons\n"
           "Jonas Lindqvist - testing on many desktops\n"
           "Mei Okabe - translations of the notes\n"
           "<br>"
           "...and thanks to everybody else who sent\n"
           "ranges, bug reports and kind words!\n"
           "</font>";
}

}  // namespace fv::dialogs
