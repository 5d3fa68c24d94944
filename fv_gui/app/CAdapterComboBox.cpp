#include "fv_gui/app/CAdapterComboBox.h"

#include <QWheelEvent>

#include "fv_gui/app/AdapterSelection.h"
#include "fv_gui/settings/Settings.h"

namespace fv {

CAdapterComboBox::CAdapterComboBox(QWidget* parent) : CFlatComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::activated, this, [this](int) { OnSelectionDone(); });
}

void CAdapterComboBox::FillAdapters(const AdapterList& list) {
    adapters_ = list;
    haveList_ = true;
    const std::vector<std::string> items = AdapterItems(adapters_);
    clear();
    for (const std::string& item : items) addItem(QString::fromStdString(item));
    lastItem_ = count() - 1;
    selectedDevice_.clear();
    if (!settings_) {
        setCurrentIndex(0);
        return;
    }
    const std::string stored = settings_->SelectedAdapter.Value();
    const int item = ItemOfDevice(adapters_, stored);
    setCurrentIndex(item);
    if (item != 0) selectedDevice_ = stored;
}

void CAdapterComboBox::SelectAdapterByName(const std::string& deviceName) {
    if (const int item = ItemOfDevice(adapters_, deviceName); item > 0 && item < count()) setCurrentIndex(item);
}

bool CAdapterComboBox::GetSelectedAdapter(AdapterInfo& entry) const {
    if (selectedDevice_.empty()) return false;
    const AdapterInfo* found = FindAdapter(adapters_, selectedDevice_);
    if (!found) return false;
    entry = *found;
    return true;
}

void CAdapterComboBox::OnSelectionDone() {
    selectedDevice_.clear();
    if (!settings_) return;
    if (currentIndex() == 0 || !haveList_) {
        settings_->SelectedAdapter.Set("");
        PostSelectionChanged(false);
        return;
    }
    // By position, not by text: two adapters may describe themselves alike.
    if (const AdapterInfo* entry = EntryOfItem(adapters_, currentIndex())) {
        settings_->SelectedAdapter.Set(entry->lowerDeviceName);
        selectedDevice_ = entry->lowerDeviceName;
        selected_ = *entry;
        PostSelectionChanged(true);
        return;
    }
    settings_->SelectedAdapter.Set("");
    PostSelectionChanged(false);
}

void CAdapterComboBox::PostSelectionChanged(bool chosen) {
    QMetaObject::invokeMethod(this, [this, chosen] { emit AdapterSelectionChanged(chosen, chosen ? &selected_ : nullptr); },
                              Qt::QueuedConnection);
}

void CAdapterComboBox::wheelEvent(QWheelEvent* event) { event->accept(); }

}  // namespace fv
