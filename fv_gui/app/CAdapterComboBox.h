// The main window's drop-down list of the adapters the driver is bound to. A choice is stored in
// the SelectedAdapter setting at once and announced to the parent; it takes effect at the next
// session open.
#pragma once

#include <string>

#include "fv_gui/client/AdapterEnumeration.h"
#include "fv_gui/controls/CFlatComboBox.h"

namespace fv {

class Settings;

class CAdapterComboBox : public CFlatComboBox {
    Q_OBJECT
public:
    explicit CAdapterComboBox(QWidget* parent = nullptr);

    // Without settings nothing is stored and a fill selects "<not selected>".
    void SetSettings(Settings* settings) { settings_ = settings; }
    // Rebuilds the items from `list` and selects the stored adapter.
    void FillAdapters(const AdapterList& list);
    void SelectAdapterByName(const std::string& deviceName);
    // False when nothing valid is selected.
    [[nodiscard]] bool GetSelectedAdapter(AdapterInfo& entry) const;
    const std::string& SelectedDevice() const { return selectedDevice_; }
    int LastItemAdded() const { return lastItem_; }

    // A selection the user accepted.
    void OnSelectionDone();

signals:
    // Queued to the parent: `chosen` with the selector's copy of the entry, or false and null
    // for "<not selected>" or a text no adapter has.
    void AdapterSelectionChanged(bool chosen, const fv::AdapterInfo* entry);

protected:
    // Turning the wheel over the closed list never changes the adapter.
    void wheelEvent(QWheelEvent* event) override;

private:
    void PostSelectionChanged(bool chosen);

    AdapterInfo selected_;
    std::string selectedDevice_;
    Settings* settings_ = nullptr;
    int lastItem_ = -1;
    // A copy: the session the list came from may be deleted while the selector still shows it.
    AdapterList adapters_;
    bool haveList_ = false;
};

}  // namespace fv
