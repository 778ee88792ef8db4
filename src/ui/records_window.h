#pragma once

// The records window "管理分享链接": lists the ledger (all of it, or the rows
// matching the query conditions), deletes all, the ticked or one record,
// exports the listed rows (never onto the ledger or set.ini beside it) and
// copies links. With the program's share work installed, it also checks the
// shares' states on the service, cancels shares and shares again what died,
// one piece of work at a time, on a helper thread, with progress and a stop.
// It is not modal. It works on the program's RecordStore, which a share run
// may be writing to at the same time; every call goes through the store's
// lock.

#include "records/record_filter.h"
#include "ui/records_model.h"
#include "ui/share_work.h"

#include <QDialog>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <thread>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

namespace vantorel {
class RecordStore;
}

namespace vantorel::gui {

// Where an export goes: a file and the chosen filter of the save dialog. An
// empty path means the dialog was cancelled.
struct ExportTarget {
    QString path;
    QString filter;
};

class RecordsWindow : public QDialog {
    Q_OBJECT
public:
    using SaveFileChooser = std::function<ExportTarget(QWidget* parent)>;

    // The store must outlive the window.
    explicit RecordsWindow(RecordStore& store, QWidget* parent = nullptr);
    // Stops the share work still going, and waits for it.
    ~RecordsWindow() override;

    // Shows 同步状态, 取消分享 and 重新分享, done by `provider` (which must
    // outlive the window); null hides them.
    void setShareWork(ShareWorkProvider* provider);
    // "同步状态": every shared record against the service's list.
    void syncStates();
    // "取消分享": after a confirmation naming the count, the chosen records'
    // shares (the ticked rows, else the selected ones). The rows stay.
    void cancelShares();
    // "重新分享": fresh links for the chosen records whose share is
    // expired, blocked or gone; the old rows stay.
    void reshare();
    // "停止": asks the work to end and waits for it; what it stored stays.
    void stopShareWork();
    bool shareWorkRunning() const;

    // "查询": everything when no condition is filled in, else the matching
    // rows. A failed query is reported and leaves the grid empty; a date
    // range that ends before it starts is refused with a message and lists
    // nothing. The window runs it once when it opens.
    void query();
    // "删除所有": after the typed confirmation word.
    void deleteAll();
    // "删除选择": after a confirmation that says how many rows go, the ticked
    // rows; the button stays disabled for a second afterwards. Its caption
    // counts the ticked rows.
    void deleteSelected();
    // "导出": the listed rows, the checked export columns (all of them when
    // none is checked), into a file chosen in the save dialog.
    void exportRows();
    // The context menu of the grid at a point of its viewport.
    void openContextMenu(const QPoint& viewportPos);

    // The conditions filled in, or none when every field is empty, the type
    // is "所有" and no date box is checked.
    std::optional<RecordFilter> conditions() const;

    // Replaces the save dialog (tests answer it without a screen).
    void setSaveFileChooser(SaveFileChooser chooser);

    // The word the delete-all box asks for, and its prompt.
    static QString deleteAllWord();
    static QString deleteAllPrompt();
    // The question of 删除选择 for `count` ticked rows.
    static QString deleteSelectedQuestion(std::size_t count);
    // What 导出 says when the chosen file is the ledger or set.ini.
    static QString protectedFileMessage(const QString& path);
    // What 查询 says to a date range whose end lies before its start.
    static QString invertedRangeMessage();
    // The question of 取消分享 for `count` records.
    static QString cancelQuestion(std::size_t count);

    RecordsModel* model() const { return model_; }
    QTableView* grid() const { return grid_; }
    QLineEdit* idEdit() const { return id_; }
    QLineEdit* beforeNameEdit() const { return beforeName_; }
    QLineEdit* afterNameEdit() const { return afterName_; }
    QComboBox* kindList() const { return kind_; }
    // 所有, 有效, 已过期, 已屏蔽, 已失效, 未同步 (in StateChoice's order).
    QComboBox* stateList() const { return state_; }
    QLineEdit* userEdit() const { return user_; }
    QCheckBox* exactDateBox() const { return exactDateBox_; }
    QDateEdit* exactDateEdit() const { return exactDate_; }
    QCheckBox* rangeDateBox() const { return rangeDateBox_; }
    QDateEdit* rangeFromEdit() const { return rangeFrom_; }
    QDateEdit* rangeToEdit() const { return rangeTo_; }
    QPushButton* queryButton() const { return query_; }
    QPushButton* deleteAllButton() const { return deleteAll_; }
    QPushButton* deleteSelectedButton() const { return deleteSelected_; }
    QPushButton* exportButton() const { return export_; }
    QPushButton* syncButton() const { return sync_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* reshareButton() const { return reshare_; }
    QPushButton* stopButton() const { return stopWork_; }
    QProgressBar* workProgress() const { return workProgress_; }
    // Export check boxes in their design order: ID, 路径, 原名称, 新名称,
    // 链接, 密码, 分享时间, 大小, MD5, 用户名.
    const QList<QCheckBox*>& exportBoxes() const { return exportBoxes_; }
    QLabel* countLabel() const { return count_; }
    // The window's status line: what the last copy or deletion did.
    QLabel* statusLabel() const { return status_; }

protected:
    void done(int result) override;

private:
    void buildConditionGroup();
    void buildShareWork();
    void buildExportGroup();
    void buildGrid();
    // Lists with `filter` (null: everything) and remembers it for relist().
    void list(const std::optional<RecordFilter>& filter);
    // Lists again what the last listing showed (after a deletion).
    void relist();
    bool deleteRecords(const std::vector<std::int64_t>& ids);
    bool confirm(const QString& text);
    bool rangeInverted() const;
    void showTickedCount();
    void showStatus(const QString& text);
    void report(const QString& text, bool failure = false);
    // The ticked rows' ids, else those of the selected rows.
    std::vector<std::int64_t> chosenIds() const;
    void startShareWork(ShareWork work, std::vector<std::int64_t> ids, const QString& activity);
    void showWorkProgress(const ShareWorkProgress& progress);
    void finishShareWork(const Expected<std::string>& outcome);
    void showStates();
    void setWorking(bool working);

    RecordStore& store_;
    RecordsModel* model_ = nullptr;
    std::optional<RecordFilter> lastFilter_;
    StateChoice lastChoice_ = StateChoice::Any;
    bool listed_ = false;
    SaveFileChooser chooseFile_;

    QGroupBox* conditionGroup_ = nullptr;
    QLineEdit* id_ = nullptr;
    QLineEdit* beforeName_ = nullptr;
    QLineEdit* afterName_ = nullptr;
    QComboBox* kind_ = nullptr;
    QComboBox* state_ = nullptr;
    QCheckBox* exactDateBox_ = nullptr;
    QDateEdit* exactDate_ = nullptr;
    QCheckBox* rangeDateBox_ = nullptr;
    QDateEdit* rangeFrom_ = nullptr;
    QDateEdit* rangeTo_ = nullptr;
    QLineEdit* user_ = nullptr;
    QPushButton* query_ = nullptr;
    QPushButton* deleteAll_ = nullptr;

    QGroupBox* exportGroup_ = nullptr;
    QList<QCheckBox*> exportBoxes_;
    QPushButton* export_ = nullptr;

    QTableView* grid_ = nullptr;
    QPushButton* deleteSelected_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* status_ = nullptr;

    ShareWorkProvider* shareWork_ = nullptr;
    QPushButton* sync_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* reshare_ = nullptr;
    QPushButton* stopWork_ = nullptr;
    QProgressBar* workProgress_ = nullptr;
    QString activity_;               // what the work is doing, for the progress text
    std::int64_t statesShownAt_ = 0; // ms since epoch: the states shown last during the work
    QTimer* statesTimer_ = nullptr;  // shows the states a sync stored meanwhile
    unsigned workRun_ = 0;           // numbers each piece of work, for its queued reports
    std::jthread worker_;
};

// Writes the given columns of every row of `model` to `path` with the
// records exporter: tab-separated text, or CSV (RFC 4180, a UTF-8
// byte-order mark, formulas kept from running) when `csv`; a header line of
// the column titles first. A target among `protectedFiles` is refused
// (ExportFailure::ProtectedFile). Returns the number of rows written.
Expected<std::size_t> writeRecordsFile(const RecordsModel& model, const QList<int>& columns,
                                       const QString& path, bool csv,
                                       std::span<const std::filesystem::path> protectedFiles);

} // namespace vantorel::gui
