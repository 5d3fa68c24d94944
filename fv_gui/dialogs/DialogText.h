// The program's texts end lines with "\r\n"; Qt's widgets want "\n".
#pragma once

#include <QString>

#include <string_view>

namespace fv::dialogs {

[[nodiscard]] inline QString DisplayText(std::string_view text) {
    QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace fv::dialogs
