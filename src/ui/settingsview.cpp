#include "ui/settingsview.h"

#include "ui/awsprofilessettingsview.h"
#include "ui/generalsettingspage.h"
#include "ui/icons.h"
#include "ui/regionssettingspage.h"
#include "ui/servicessettingspage.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tessera {

namespace {
struct SectionEntry
{
    const char *title;
    const char *caption;
    Symbol symbol;
};
constexpr SectionEntry sectionEntries[] = {
    {"General", "Portal, sync, and startup", Symbol::settings},
    {"Regions", "Console region choices", Symbol::globe},
    {"Services", "Visible and pinned services", Symbol::grid},
    {"AWS Profiles", "AWS CLI configuration", Symbol::terminal},
};

QWidget *sidebarEntry(const SectionEntry &entry, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 4, 6, 4);
    auto *icon = new QLabel(row);
    icon->setPixmap(symbolIcon(entry.symbol).pixmap(18, 18));
    icon->setFixedWidth(18);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addWidget(new QLabel(qtTrId(entry.title), row));
    auto *caption = new QLabel(qtTrId(entry.caption), row);
    QFont small = caption->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    caption->setFont(small);
    caption->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(caption);
    layout->addLayout(texts, 1);
    return row;
}

QWidget *scrolling(QWidget *page)
{
    auto *area = new QScrollArea;
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidget(page);
    return area;
}
} // namespace

SettingsView::SettingsView(AccountStore *store, Actions actions, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_store(store)
    , m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("settings"));
    setWindowTitle(qtTrId("Tessera Settings"));
    setWindowIcon(symbolIcon(Symbol::cloud));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildSidebar());

    m_pages = new QStackedWidget(this);
    // After the hotkey is applied, the page shows what the hotkey service reported.
    auto applyHotKey = [this] {
        if (m_actions.applyHotKey) {
            m_actions.applyHotKey();
        }
        if (m_actions.hotKeyErrorMessage) {
            setHotKeyErrorMessage(m_actions.hotKeyErrorMessage());
        }
    };
    m_general = new GeneralSettingsPage(
        store, applyHotKey, m_actions.loginItem ? m_actions.loginItem : makeLoginItem());
    m_regions = new RegionsSettingsPage(store);
    m_services = new ServicesSettingsPage(store);
    m_awsProfiles = new AWSProfilesSettingsView(store);
    m_awsProfiles->setCLISignInSharing(m_actions.cliSignInSharing);
    for (QWidget *page :
         std::initializer_list<QWidget *>{m_general, m_regions, m_services, m_awsProfiles}) {
        m_pages->addWidget(scrolling(page));
    }
    layout->addWidget(m_pages, 1);

    // The portal's region is the regions page's fallback and part of every profile.
    connect(m_general, &GeneralSettingsPage::portalChanged, m_regions,
            &RegionsSettingsPage::update);
    connect(m_general, &GeneralSettingsPage::portalChanged, m_awsProfiles,
            &AWSProfilesSettingsView::inputsChanged);
    connect(m_general, &GeneralSettingsPage::portalChanged, store, &AccountStore::startURLSaved);
    if (m_actions.hotKeyErrorMessage) {
        setHotKeyErrorMessage(m_actions.hotKeyErrorMessage());
    }
    resize(760, 560);
    selectSection(Section::general);
}

QWidget *SettingsView::buildSidebar()
{
    auto *column = new QWidget(this);
    column->setMinimumWidth(190);
    column->setMaximumWidth(240);
    auto *layout = new QVBoxLayout(column);
    auto *title = new QLabel(qtTrId("Settings"), column);
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);
    layout->addWidget(title);

    m_sidebar = new QListWidget(column);
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setFrameShape(QFrame::NoFrame);
    for (const SectionEntry &entry : sectionEntries) {
        auto *item = new QListWidgetItem(m_sidebar);
        QWidget *row = sidebarEntry(entry, m_sidebar);
        item->setSizeHint(row->sizeHint());
        item->setData(Qt::AccessibleTextRole, qtTrId(entry.title));
        m_sidebar->setItemWidget(item, row);
    }
    connect(m_sidebar, &QListWidget::currentRowChanged, this,
            [this](int row) { selectSection(Section(row)); });
    layout->addWidget(m_sidebar, 1);
    column->resize(210, column->height());
    return column;
}

void SettingsView::selectSection(Section section)
{
    const bool changed = section != m_section;
    m_section = section;
    m_pages->setCurrentIndex(int(section));
    if (m_sidebar->currentRow() != int(section)) {
        m_sidebar->setCurrentRow(int(section));
    }
    if (changed) {
        Q_EMIT selectedSectionChanged();
    }
}

void SettingsView::setHotKeyErrorMessage(const std::optional<QString> &message)
{
    m_general->setHotKeyErrorMessage(message);
}

void SettingsView::closeEvent(QCloseEvent *event)
{
    // An edit still in a portal field is kept, as leaving the field would have kept it.
    m_general->submitPendingEdits();
    QWidget::closeEvent(event);
}

} // namespace tessera
