#pragma once

// The settings window "参数设置": the editor of set.ini. It is a Qt window
// and joins the desktop app's library, not the core; what its controls mean
// and how they load, save and turn into ShareOptions is SettingsForm's
// business (settings/settings_form.h), so the window only moves values
// between its controls and a form.

#include "settings/settings_form.h"

#include <QDialog>
#include <QString>
#include <filesystem>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vantorel::gui {

class SettingsWindow : public QDialog {
    Q_OBJECT
public:
    // Loads set.ini of `dataDir` into the controls. A missing file or key
    // leaves a control at its default; a file that exists but cannot be
    // read loads as the defaults too (its reason is kept in loadError()).
    explicit SettingsWindow(const QString& dataDir, QWidget* parent = nullptr);

    // What the controls hold now, and setting them from code (no event
    // handler runs, as for the load step).
    SettingsForm form() const;
    void setForm(const SettingsForm& form);

    // The save button: checks the form, then writes every key of set.ini.
    // On success says "保存成功" and closes the window; with too long an
    // extraction code says so, writes nothing and stays open. A file that
    // cannot be written is reported and the window stays open. Returns the
    // options when the save went through.
    std::optional<ShareOptions> save();

    const std::filesystem::path& settingsFile() const { return file_; }
    const QString& loadError() const { return loadError_; }

    // Controls by their design names, for the tests and the screenshots.
    QRadioButton* depthAndTypeRadio() const { return depthAndType_; }
    QRadioButton* byTypeRadio() const { return byType_; }
    QComboBox* shareTypeList() const { return shareType_; }
    QComboBox* suffixList() const { return suffixList_; }
    QLineEdit* customSuffixEdit() const { return customSuffix_; }
    QComboBox* byTypeModeList() const { return byTypeMode_; }
    QLineEdit* passwordEdit() const { return password_; }
    QComboBox* periodList() const { return period_; }
    QLineEdit* intervalEdit() const { return interval_; }
    QCheckBox* encryptNameBox() const { return encryptName_; }
    QCheckBox* keywordBox() const { return keyword_; }
    QLineEdit* keywordBeforeEdit() const { return keywordBefore_; }
    QLineEdit* keywordAfterEdit() const { return keywordAfter_; }
    QCheckBox* prefixBox() const { return prefix_; }
    QLineEdit* prefixEdit() const { return prefixText_; }
    QCheckBox* suffixBox() const { return suffix_; }
    QLineEdit* suffixEdit() const { return suffixText_; }
    QLineEdit* dailyLimitEdit() const { return dailyLimit_; }
    QPushButton* saveButton() const { return save_; }

signals:
    // A save went through; `options` are what a share run would now use.
    void saved(const vantorel::ShareOptions& options);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildShareGroup();
    void buildRenameGroup();
    void buildLimitGroup();
    void onRenameBoxReleased(QCheckBox* box);
    void onDepthAndTypeClicked();
    void onByTypeClicked();
    void onSuffixChosen();

    std::filesystem::path file_;
    QString loadError_;

    QGroupBox* shareGroup_ = nullptr;
    QRadioButton* depthAndType_ = nullptr;
    QComboBox* shareType_ = nullptr;
    QRadioButton* byType_ = nullptr;
    QComboBox* suffixList_ = nullptr;
    QLineEdit* customSuffix_ = nullptr;
    QLineEdit* password_ = nullptr;
    QComboBox* period_ = nullptr;
    QLineEdit* interval_ = nullptr;
    QComboBox* byTypeMode_ = nullptr;

    QGroupBox* renameGroup_ = nullptr;
    QCheckBox* encryptName_ = nullptr;
    QCheckBox* keyword_ = nullptr;
    QLineEdit* keywordBefore_ = nullptr;
    QLineEdit* keywordAfter_ = nullptr;
    QCheckBox* prefix_ = nullptr;
    QLineEdit* prefixText_ = nullptr;
    QCheckBox* suffix_ = nullptr;
    QLineEdit* suffixText_ = nullptr;

    QGroupBox* limitGroup_ = nullptr;
    QLineEdit* dailyLimit_ = nullptr;

    QPushButton* save_ = nullptr;
};

} // namespace vantorel::gui
