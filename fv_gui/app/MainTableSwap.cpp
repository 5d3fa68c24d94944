// The main window's side of a blocklist file that changes while the program runs (a list update
// renames a new file over it): the session swaps the new table in and the status rows say how
// it went. The reload command and its timer are not involved.
#include "fv_gui/app/BlocklistWatch.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/client/DeviceAccess.h"
#include "fv_contract/DeviceNames.h"

namespace fv {
namespace {

constexpr const char kTableUpdatedText[] = "IP table updated from \"";
constexpr const char kTableKeptText[] =
    "The changed IP table could not be put in force; the previous one still is.";

}  // namespace

void CMainDialog::WatchBlocklist() {
    if (!session_) return;
    if (!blocklistWatch_) {
        blocklistWatch_ = new BlocklistWatch(this);
        connect(blocklistWatch_, &BlocklistWatch::Changed, this, &CMainDialog::SwapInChangedTable);
    }
    blocklistWatch_->Watch(session_->BlocklistPath());
}

void CMainDialog::SwapInChangedTable() {
    // Without an open session there is no table to replace: the next open reads the file.
    if (destroyed_ || !session_ || !session_->AdapterHandleOpen()) return;
    // A command that replaces or stops the session is under way and waits dispatching events.
    if (commandRunning_) {
        blocklistWatch_->Postpone();
        return;
    }
    commandRunning_ = true;
    const bool swapped = session_->ReplaceRanges();
    commandRunning_ = false;
    if (!swapped) {
        ReportStatus(StatusKind::Error, kTableKeptText);
        ReportContinuation(SessionFailureText(session_->ReplaceFailure(), session_->BlocklistPath(),
                                              parameters_.selectedAdapter,
                                              DeviceDirectory() + "/" + kControlDeviceName,
                                              CurrentDeviceUser()));
        return;
    }
    ReportStatus(StatusKind::Information, kTableUpdatedText + session_->BlocklistPath() + "\".");
    const auto table = session_->Blocklist();
    ReportStatus(StatusKind::Information,
                 KnownAddressesText(table ? table->AddressCount() : 0, table ? table->RangeCount() : 0));
    // An update of the subscribed lists is what usually swaps the table: say how fresh they now are.
    ReportListFreshness();
}

}  // namespace fv
