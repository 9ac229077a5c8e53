#pragma once

#include "accounts/accountstore.h"
#include "awsconfig/awsprofilespagemodel.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessera {

class CLISignInSharing;

// Settings › AWS Profiles: the management mode, where the config is, how profiles are
// named, a summary of the planned change, and apply, reset and restore. The plan and the
// actions live in AWSProfilesPageModel; this page writes the settings and says when to
// preview again.
class AWSProfilesSettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit AWSProfilesSettingsView(AccountStore *store, QWidget *parent = nullptr);

    AWSProfilesPageModel &model() { return m_model; }
    // What keeps the AWS CLI's sign-in current; told whenever the block or its switches
    // change. Without one the switch only stores its setting.
    void setCLISignInSharing(CLISignInSharing *sharing);

public Q_SLOTS:
    // An input of the plan changed elsewhere (the accounts, the portal); a page that is not
    // on screen previews again when it is shown.
    void inputsChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildManagementGroup();
    QWidget *buildNamesGroup();
    QWidget *buildActionsGroup();
    void render();
    void renderExample();
    void commitCLIRegion(bool showProblem);
    void updateCLISignIn();

    AccountStore *m_store;
    SettingsStore &m_settings;
    AWSProfilesPageModel m_model;

    QComboBox *m_mode = nullptr;
    QLineEdit *m_configPath = nullptr;
    QLabel *m_grantedLine = nullptr;
    QLineEdit *m_template = nullptr;
    QComboBox *m_separator = nullptr;
    QComboBox *m_case = nullptr;
    QWidget *m_exampleRow = nullptr;
    QLabel *m_example = nullptr;
    QLineEdit *m_cliRegion = nullptr;
    QLabel *m_cliRegionProblem = nullptr;
    QPushButton *m_resetNames = nullptr;
    QCheckBox *m_autoSync = nullptr;
    QCheckBox *m_shareSignIn = nullptr;
    QLabel *m_shareSignInFailure = nullptr;
    QPointer<CLISignInSharing> m_cliSignInSharing;
    QString m_lastResultMessage;
    QCheckBox *m_removeOrphans = nullptr;
    QLabel *m_conflicts = nullptr;
    QLabel *m_globalConflicts = nullptr;
    QLabel *m_result = nullptr;
    QLabel *m_failure = nullptr;
    QPushButton *m_reload = nullptr;
    QPushButton *m_apply = nullptr;
    QPushButton *m_restore = nullptr;
};

} // namespace tessera
