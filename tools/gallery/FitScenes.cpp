// Texts at their longest, to see that they fit their boxes: the popup of a blocked packet whose
// range has the longest description a record carries.
#include <QApplication>

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "fv_gui/app/ConsumerTexts.h"
#include "fv_gui/logging/ProtocolName.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/res/ResourceIds.h"
#include "tools/gallery/Scene.h"

namespace fv::gallery {
namespace {

using namespace fv::notify;

constexpr int kStayForAnHourMs = 3'600'000;

// The longest popup text: a description filling the record's field with words, the widest
// address, protocol name and ports.
QString LongestPopupText() {
    BlockedPacketView view{};
    view.packet.direction = static_cast<std::uint8_t>(PacketDirection::Outgoing);
    view.packet.firstPort = htons(65535);
    view.packet.secondPort = htons(65535);
    std::string description;
    while (description.size() + 12 < sizeof view.description) description += "Hostile net ";
    std::memcpy(view.description, description.data(), description.size());
    std::strcpy(view.addressText, "255.255.255.255");
    std::string protocol;
    for (unsigned p = 0; p < 256; ++p) {
        if (const std::string name = ProtocolName(p); name.size() > protocol.size()) protocol = name;
    }
    return QString::fromStdString(FormatBlockedTexts(view, protocol).popupText);
}

void ShowNotifierLongestText() {
    auto* popup = new CTaskbarNotifier();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, popup, [popup] { delete popup; });
    popup->Create(nullptr);
    // As the main window sets it up.
    (void)popup->SetSkin(res::kNotifierSkin, 255, 0, 255);
    (void)popup->SetCloseButton(res::kNotifierCloseButton, 189, 33, 255, 0, 255);
    popup->SetTextFont(QStringLiteral("Tahoma"), 80, 0, kFontUnderline);
    popup->SetTextFormat(DT_WORDBREAK);
    popup->SetTextColors(qRgb(0, 0, 140), qRgb(0, 0, 255));
    popup->SetTextRect(QRect(18, 60, 183, 51));
    popup->SetMinimumGap(0);
    popup->Show(LongestPopupText(), 10, kStayForAnHourMs, 200);
}

}  // namespace

std::vector<Scene> FitScenes() { return {{"notifier-longest-text", ShowNotifierLongestText}}; }

}  // namespace fv::gallery
