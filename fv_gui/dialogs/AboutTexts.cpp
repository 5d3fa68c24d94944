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
           "Thanks for keeping an eye\n"
           "on your connections.\n"
           "<br>"
           "News, lists and help:\n"
           "<font color=\"0,0,160\" style=\"u\"><a href=\"https://ferrovane.example.org/\" color=\"0,0,255\">ferrovane.example.org</a></font>\n"
           "<br>"
           "Made with the help of\n"
           "<br>"
           "Ada Brennick\n"
           "Tomasz Wierzba\n"
           "Lucia Ferreira\n"
           "Noor Haddad\n"
           "Jonas Lindqvist\n"
           "Mei Okabe\n"
           "<br>"
           "...and everybody else who sent\n"
           "ranges, reports and kind words!\n"
           "</font>";
}

}  // namespace fv::dialogs
