#include "ui/onboardingview.h"

#include "quicksearch/hotkeypreset.h"
#include "storage/settings.h"
#include "ui/icons.h"
#include "ui/onboardingvalidation.h"
#include "ui/settingswidgets.h"
#include "ui/signinginview.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tessera {

namespace {
QLabel *paragraph(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QLabel *secondary(const QString &text, QWidget *parent)
{
    QLabel *label = paragraph(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel *title(const QString &text, QWidget *parent, qreal scale = 1.6)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel *cloudMark(QWidget *parent)
{
    auto *cloud = new QLabel(parent);
    cloud->setPixmap(symbolIcon(Symbol::cloud).pixmap(64, 64));
    cloud->setAlignment(Qt::AlignCenter);
    return cloud;
}

QWidget *captionRow(QLabel **icon, QLabel **caption, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    *icon = new QLabel(row);
    *caption = new QLabel(row);
    (*caption)->setWordWrap(true);
    QFont small = (*caption)->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    (*caption)->setFont(small);
    layout->addWidget(*icon, 0, Qt::AlignTop);
    layout->addWidget(*caption, 1);
    return row;
}

void setCaption(QLabel *icon, QLabel *caption, bool valid, const QString &validText,
                const QString &invalidText)
{
    icon->setPixmap(symbolIcon(valid ? Symbol::valid : Symbol::invalid).pixmap(14, 14));
    caption->setText(valid ? validText : invalidText);
    caption->setProperty("valid", valid);
}
} // namespace

OnboardingView::OnboardingView(AccountStore *store, Actions actions, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_settings(store->defaults())
    , m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("onboarding"));
    setWindowTitle(qtTrId("Welcome to Tessera"));
    setFixedSize(560, 430);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 18);
    m_pages = new QStackedWidget(this);
    for (QWidget *page :
         {buildWelcome(), buildPortal(), buildSignIn(), buildPreferences(), buildDone()}) {
        m_pages->addWidget(page);
    }
    layout->addWidget(m_pages, 1);

    auto *bar = new QHBoxLayout;
    m_back = new QPushButton(qtTrId("Back"), this);
    m_back->setObjectName(QStringLiteral("back"));
    connect(m_back, &QPushButton::clicked, this, &OnboardingView::goBack);
    bar->addWidget(m_back);
    bar->addStretch(1);
    for (int i = 0; i < 5; ++i) {
        auto *dot = new QLabel(this);
        dot->setFixedSize(7, 7);
        m_dots.append(dot);
        bar->addWidget(dot);
    }
    bar->addStretch(1);
    m_continue = new QPushButton(qtTrId("Continue"), this);
    m_continue->setObjectName(QStringLiteral("continue"));
    m_continue->setDefault(true);
    connect(m_continue, &QPushButton::clicked, this, &OnboardingView::goOn);
    bar->addWidget(m_continue);
    m_finish = new QPushButton(qtTrId("Finish"), this);
    m_finish->setObjectName(QStringLiteral("finish"));
    connect(m_finish, &QPushButton::clicked, this, &OnboardingView::finish);
    bar->addWidget(m_finish);
    layout->addLayout(bar);

    connect(m_store, &AccountStore::sessionChanged, this, &OnboardingView::updateSignIn);
    connect(m_store, &AccountStore::syncingChanged, this, &OnboardingView::updateSignIn);
    connect(m_store, &AccountStore::accountsChanged, this, &OnboardingView::updateSignIn);
    connect(m_store, &AccountStore::errorMessageChanged, this, &OnboardingView::updateSignIn);

    updateValidation();
    updateSignIn();
    updateDone();
    setStep(Step::welcome);
}

QWidget *OnboardingView::buildWelcome()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addStretch(1);
    layout->addWidget(cloudMark(page));
    layout->addWidget(title(qtTrId("Welcome to Tessera"), page));
    auto *text =
        paragraph(qtTrId("Every AWS account, one click from your system tray.\nLet's get you "
                         "set up — it takes about a minute."),
                  page);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    layout->addStretch(1);
    return page;
}

QWidget *OnboardingView::buildPortal()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(title(qtTrId("Your access portal"), page, 1.3));
    layout->addWidget(paragraph(
        qtTrId("Tessera lists the accounts and roles you can reach through IAM Identity Center."),
        page));
    layout->addWidget(
        secondary(qtTrId("Not sure? Ask whoever manages your AWS organization."), page));
    layout->addSpacing(8);

    layout->addWidget(new QLabel(qtTrId("Start URL"), page));
    m_startUrl = new QLineEdit(page);
    m_startUrl->setObjectName(QStringLiteral("startUrl"));
    m_startUrl->setPlaceholderText(QStringLiteral("https://my-company.awsapps.com/start"));
    m_startUrl->setText(m_settings.string(key(settingskey::startUrl)).value_or(QString()));
    layout->addWidget(m_startUrl);
    layout->addWidget(captionRow(&m_startUrlIcon, &m_startUrlCaption, page));
    m_startUrlCaption->setObjectName(QStringLiteral("startUrlCaption"));

    layout->addWidget(new QLabel(qtTrId("IAM Identity Center region"), page));
    m_region = new QLineEdit(page);
    m_region->setObjectName(QStringLiteral("region"));
    m_region->setPlaceholderText(QLatin1String(defaultSSORegion));
    m_region->setText(
        m_settings.string(key(settingskey::ssoRegion)).value_or(QLatin1String(defaultSSORegion)));
    layout->addWidget(m_region);
    layout->addWidget(captionRow(&m_regionIcon, &m_regionCaption, page));
    m_regionCaption->setObjectName(QStringLiteral("regionCaption"));
    layout->addStretch(1);

    connect(m_startUrl, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_settings.setString(key(settingskey::startUrl), text);
        updateValidation();
    });
    connect(m_region, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_settings.setString(key(settingskey::ssoRegion), text);
        updateValidation();
    });
    // OnboardingView is a plain window, not a dialog: Return reaches no default button.
    for (QLineEdit *field : {m_startUrl, m_region}) {
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (m_continue->isEnabled()) {
                goOn();
            }
        });
    }
    return page;
}

QWidget *OnboardingView::buildSignIn()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(title(qtTrId("Sign in"), page, 1.3));
    layout->addWidget(paragraph(qtTrId("Tessera opens your browser on the AWS verification page "
                                       "and shows a code to compare — the standard device sign-in "
                                       "flow."),
                                page));
    layout->addStretch(1);

    m_signedOutBox = new QWidget(page);
    m_signedOutBox->setObjectName(QStringLiteral("signedOut"));
    auto *signedOut = new QVBoxLayout(m_signedOutBox);
    m_signInButton = new QPushButton(qtTrId("Sign In to AWS"), m_signedOutBox);
    m_signInButton->setObjectName(QStringLiteral("signInButton"));
    connect(m_signInButton, &QPushButton::clicked, m_store, &AccountStore::signIn);
    signedOut->addWidget(m_signInButton, 0, Qt::AlignCenter);
    m_signInError = paragraph(QString(), m_signedOutBox);
    m_signInError->setObjectName(QStringLiteral("errorLine"));
    m_signInError->setStyleSheet(QStringLiteral("color: #d70015;"));
    m_signInError->setAlignment(Qt::AlignCenter);
    signedOut->addWidget(m_signInError);
    auto *later =
        secondary(qtTrId("You can also do this later from the Tessera panel."), m_signedOutBox);
    later->setAlignment(Qt::AlignCenter);
    signedOut->addWidget(later);
    layout->addWidget(m_signedOutBox);

    m_signingIn = new SigningInView(m_store, m_actions.openURL, m_actions.copyToClipboard, page);
    layout->addWidget(m_signingIn);

    m_signedInBox = new QWidget(page);
    m_signedInBox->setObjectName(QStringLiteral("signedIn"));
    auto *signedIn = new QVBoxLayout(m_signedInBox);
    auto *connected = new QHBoxLayout;
    connected->addStretch(1);
    auto *check = new QLabel(m_signedInBox);
    check->setPixmap(symbolIcon(Symbol::valid).pixmap(18, 18));
    connected->addWidget(check);
    connected->addWidget(title(qtTrId("Connected"), m_signedInBox, 1.1));
    connected->addStretch(1);
    signedIn->addLayout(connected);
    m_signedInDetail = secondary(QString(), m_signedInBox);
    m_signedInDetail->setObjectName(QStringLiteral("signedInDetail"));
    m_signedInDetail->setAlignment(Qt::AlignCenter);
    signedIn->addWidget(m_signedInDetail);
    layout->addWidget(m_signedInBox);
    layout->addStretch(2);
    return page;
}

QWidget *OnboardingView::buildPreferences()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(title(qtTrId("Preferences"), page, 1.3));
    layout->addWidget(secondary(
        qtTrId("All of these can be changed anytime from the gear icon in the Tessera panel."),
        page));
    layout->addSpacing(10);
    auto *form = new QFormLayout;

    m_syncPicker = settingsui::syncPicker(m_settings, {}, page);
    form->addRow(qtTrId("Auto-sync accounts and roles"), m_syncPicker);

    m_hotkeyPicker = settingsui::hotKeyPicker(
        m_settings, [this] { updateDone(); }, page);
    form->addRow(qtTrId("Quick Search hotkey"), m_hotkeyPicker);
    layout->addLayout(form);
    layout->addWidget(secondary(qtTrId("Quick Search opens a launcher-style account switcher "
                                       "from anywhere — no mouse needed."),
                                page));
    layout->addStretch(1);
    return page;
}

QWidget *OnboardingView::buildDone()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->addStretch(1);
    layout->addWidget(cloudMark(page));
    layout->addWidget(title(qtTrId("You're all set"), page));
    auto *where = paragraph(
        m_actions.hasTray
            ? qtTrId("Tessera lives in your system tray — click the cloud to browse accounts.")
            : qtTrId("Your desktop has no system tray, so Tessera keeps its accounts window "
                     "open — close it to minimise it."),
        page);
    where->setObjectName(QStringLiteral("whereLine"));
    where->setAlignment(Qt::AlignCenter);
    layout->addWidget(where);
    m_hotkeyLine = paragraph(QString(), page);
    m_hotkeyLine->setObjectName(QStringLiteral("hotkeyLine"));
    m_hotkeyLine->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_hotkeyLine);
    layout->addStretch(1);
    return page;
}

bool OnboardingView::canContinue() const
{
    if (m_step == Step::portal) {
        return isValidStartURLText(m_startUrl->text()) && isValidOnboardingRegion(m_region->text());
    }
    return m_step != Step::done;
}

void OnboardingView::goBack()
{
    if (m_step != Step::welcome) {
        setStep(Step(int(m_step) - 1));
    }
}

void OnboardingView::goOn()
{
    if (!canContinue()) {
        return;
    }
    if (m_step == Step::portal) {
        const QString normalized = normalizeStartURL(m_startUrl->text());
        m_settings.setString(key(settingskey::startUrl), normalized);
        m_startUrl->setText(normalized);
        m_store->startURLSaved();
    }
    setStep(Step(int(m_step) + 1));
}

void OnboardingView::finish()
{
    m_settings.setBool(key(settingskey::onboardingComplete), true);
    m_store->configureSyncTimer();
    if (m_actions.applyHotKey) {
        m_actions.applyHotKey();
    }
    close();
}

void OnboardingView::setStep(Step step)
{
    m_step = step;
    m_pages->setCurrentIndex(int(step));
    for (int i = 0; i < m_dots.size(); ++i) {
        const bool current = i == int(step);
        m_dots[i]->setStyleSheet(current ? QStringLiteral("background: palette(highlight); "
                                                          "border-radius: 3px;")
                                         : QStringLiteral("background: rgba(128,128,128,0.25); "
                                                          "border-radius: 3px;"));
    }
    updateButtons();
}

void OnboardingView::updateValidation()
{
    setCaption(m_startUrlIcon, m_startUrlCaption, isValidStartURLText(m_startUrl->text()),
               qtTrId("This is the address of your organization's AWS access portal."),
               qtTrId("Enter the full https:// URL of your access portal."));
    setCaption(m_regionIcon, m_regionCaption, isValidOnboardingRegion(m_region->text()),
               qtTrId("The region where IAM Identity Center is deployed — not where your "
                      "workloads run."),
               qtTrId("Doesn't look like an AWS region (example: us-west-1)."));
    m_regionCaption->setStyleSheet(
        isValidOnboardingRegion(m_region->text()) ? QString() : QStringLiteral("color: #e8870e;"));
    updateButtons();
}

void OnboardingView::updateSignIn()
{
    const AccountStoreSession &session = m_store->session();
    m_signedOutBox->setVisible(session.isSignedOut());
    m_signingIn->setVisible(session.isSigningIn());
    m_signedInBox->setVisible(session.isSignedIn());
    const QString error = m_store->errorMessageOrEmpty();
    m_signInError->setText(error);
    m_signInError->setVisible(!error.isEmpty());
    m_signedInDetail->setText(
        m_store->syncing()
            ? qtTrId("Syncing your accounts…")
            : qtTrId("%lld accounts available")
                  .replace(QLatin1String("%lld"), QString::number(m_store->accounts().size())));
}

void OnboardingView::updateDone()
{
    const HotKeyPreset &preset =
        hotKeyPreset(m_settings.string(key(settingskey::quickSearchHotkey)).value_or(QString()));
    m_hotkeyLine->setVisible(!preset.isOff());
    m_hotkeyLine->setText(qtTrId("Or press ") +
                          QStringLiteral("%1 (%2)").arg(preset.nativeChordText(), preset.label) +
                          qtTrId(" for Quick Search."));
}

void OnboardingView::updateButtons()
{
    if (!m_back) {
        return;
    }
    m_back->setVisible(m_step != Step::welcome);
    m_continue->setVisible(m_step != Step::done);
    m_continue->setEnabled(canContinue());
    m_finish->setVisible(m_step == Step::done);
}

} // namespace tessera
