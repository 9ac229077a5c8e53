#pragma once

#include "accounts/accountstore.h"

#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace tessera {

class SigningInView;

// The first-run window: welcome, portal address, sign-in, preferences, done. Every field
// is written to the settings as soon as it changes; only the step is the view's own.
class OnboardingView : public QWidget
{
    Q_OBJECT

public:
    enum class Step
    {
        welcome,
        portal,
        signIn,
        preferences,
        done
    };
    Q_ENUM(Step)

    struct Actions
    {
        // Applies the stored Quick Search hotkey.
        std::function<void()> applyHotKey;
        OpenURLFunction openURL;
        // Writes plain text to the clipboard; false when the clipboard refused it.
        std::function<bool(const QString &)> copyToClipboard;
        // Whether Tessera shows a tray icon; without one the panel is an ordinary window.
        bool hasTray = true;
    };

    OnboardingView(AccountStore *store, Actions actions, QWidget *parent = nullptr);

    Step step() const { return m_step; }
    bool canContinue() const;

public Q_SLOTS:
    void goBack();
    void goOn();
    void finish();

private:
    QWidget *buildWelcome();
    QWidget *buildPortal();
    QWidget *buildSignIn();
    QWidget *buildPreferences();
    QWidget *buildDone();
    void setStep(Step step);
    void updateValidation();
    void updateSignIn();
    void updateDone();
    void updateButtons();

    AccountStore *m_store;
    SettingsStore &m_settings;
    Actions m_actions;
    Step m_step = Step::welcome;

    QStackedWidget *m_pages = nullptr;
    QLineEdit *m_startUrl = nullptr;
    QLabel *m_startUrlIcon = nullptr;
    QLabel *m_startUrlCaption = nullptr;
    QLineEdit *m_region = nullptr;
    QLabel *m_regionIcon = nullptr;
    QLabel *m_regionCaption = nullptr;
    QWidget *m_signedOutBox = nullptr;
    QPushButton *m_signInButton = nullptr;
    QLabel *m_signInError = nullptr;
    SigningInView *m_signingIn = nullptr;
    QWidget *m_signedInBox = nullptr;
    QLabel *m_signedInDetail = nullptr;
    QComboBox *m_syncPicker = nullptr;
    QComboBox *m_hotkeyPicker = nullptr;
    QLabel *m_hotkeyLine = nullptr;
    QPushButton *m_back = nullptr;
    QPushButton *m_continue = nullptr;
    QPushButton *m_finish = nullptr;
    QList<QLabel *> m_dots;
};

} // namespace tessera
