#include "ui/quickswitcherview.h"

#include "quicksearch/quickswitcherkeys.h"
#include "ui/icons.h"
#include "ui/quickswitcherlistmodel.h"
#include "ui/quickswitcherrowdelegate.h"

#include <QEasingCurve>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPropertyAnimation>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

namespace {
using ListKind = QuickSwitcherModel::ListKind;

constexpr int flashFadeMilliseconds = 150;

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: rgba(128,128,128,0.35);"));
    return line;
}

// Key glyphs as they are printed on a PC keyboard.
const QString enterGlyph = QStringLiteral("\u21B5 Enter");
const QString escapeGlyph = QStringLiteral("Esc");

QList<std::pair<QString, QString>> hintsFor(ListKind list)
{
    QList<std::pair<QString, QString>> hints{{QStringLiteral("\u2191\u2193"), qtTrId("Navigate")}};
    const QString back = QStringLiteral("\u2190");
    const QString forward = QStringLiteral("\u2192");
    const QString home = QStringLiteral("Home");
    switch (list) {
    case ListKind::actions:
        hints += {{back, qtTrId("Back")},
                  {forward, qtTrId("Open")},
                  {enterGlyph, qtTrId("Run Action")},
                  {home, qtTrId("Main")}};
        break;
    case ListKind::awsProfiles:
        hints += {{enterGlyph, qtTrId("Copy Profile")},
                  {escapeGlyph, qtTrId("Cancel")},
                  {home, qtTrId("Main")}};
        break;
    case ListKind::groups:
        hints += {{enterGlyph, qtTrId("Choose Group")},
                  {escapeGlyph, qtTrId("Cancel")},
                  {home, qtTrId("Main")}};
        break;
    case ListKind::regions:
        hints += {{enterGlyph, qtTrId("Choose Region")},
                  {escapeGlyph, qtTrId("Cancel")},
                  {home, qtTrId("Main")}};
        break;
    case ListKind::roles:
        hints += {{forward, qtTrId("Services")},
                  {back, qtTrId("Back")},
                  {enterGlyph, qtTrId("Select")},
                  {home, qtTrId("Main")}};
        break;
    case ListKind::services:
        hints += {{forward, qtTrId("Actions")},
                  {back, qtTrId("Back")},
                  {enterGlyph, qtTrId("Open")},
                  {home, qtTrId("Main")}};
        break;
    case ListKind::accounts:
        hints += {{forward, qtTrId("Actions")},
                  {enterGlyph, qtTrId("Select")},
                  {escapeGlyph, qtTrId("Close")},
                  {home, qtTrId("Main")}};
        break;
    }
    return hints;
}

// The chip's label and the account the screen is about; no label on the accounts list.
std::pair<QString, QString> contextOf(const QuickSwitcherModel &model)
{
    switch (model.currentList()) {
    case ListKind::actions:
        return {qtTrId("Actions"),
                model.actionTarget() ? model.actionTarget()->account.accountName : QString()};
    case ListKind::awsProfiles:
        return {qtTrId("Profiles"),
                model.awsProfileAccount() ? model.awsProfileAccount()->accountName : QString()};
    case ListKind::groups:
        return {qtTrId("Group"),
                model.groupAccount() ? model.groupAccount()->accountName : QString()};
    case ListKind::regions:
        return {qtTrId("Region"),
                model.regionAccount() ? model.regionAccount()->accountName : QString()};
    case ListKind::roles:
        return {qtTrId("Roles"), model.mode().account.accountName};
    case ListKind::services:
        return {qtTrId("Services"), model.mode().account.accountName};
    case ListKind::accounts:
        break;
    }
    return {};
}
} // namespace

QuickSwitcherView::QuickSwitcherView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("quickSwitcherView"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 6);
    layout->setSpacing(0);

    // Header.
    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 4, 12, 8);
    header->setSpacing(8);
    auto *glass = new QLabel(this);
    glass->setPixmap(symbolIcon(Symbol::search).pixmap(20, 20));
    header->addWidget(glass);
    m_searchField = new QLineEdit(this);
    m_searchField->setObjectName(QStringLiteral("quickSearchField"));
    m_searchField->setFrame(false);
    m_searchField->setStyleSheet(QStringLiteral("background: transparent;"));
    QFont large = m_searchField->font();
    large.setPointSizeF(large.pointSizeF() * 1.5);
    m_searchField->setFont(large);
    header->addWidget(m_searchField, 1);
    m_contextChip = new QLabel(this);
    m_contextChip->setObjectName(QStringLiteral("quickSearchContext"));
    m_contextChip->setStyleSheet(QStringLiteral(
        "background: rgba(128,128,128,0.18); border-radius: 5px; padding: 2px 8px;"));
    m_contextChip->setTextFormat(Qt::RichText);
    header->addWidget(m_contextChip);
    m_regionButton = new QToolButton(this);
    m_regionButton->setObjectName(QStringLiteral("quickSearchRegion"));
    m_regionButton->setFocusPolicy(Qt::NoFocus);
    m_regionButton->setAutoRaise(true);
    m_regionButton->setIcon(QIcon::fromTheme(QStringLiteral("globe")));
    m_regionButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_regionButton->setToolTip(qtTrId("Change console Region (Ctrl+R)"));
    connect(m_regionButton, &QToolButton::clicked, this, [this] {
        if (m_model) {
            m_model->openRegionPickerForSelection();
        }
    });
    header->addWidget(m_regionButton);
    layout->addLayout(header);
    layout->addWidget(divider(this));

    // The result list, or "No matches".
    m_listModel = new QuickSwitcherListModel(this);
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("quickSearchResults"));
    m_list->setModel(m_listModel);
    m_list->setItemDelegate(new QuickSwitcherRowDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (const QuickSwitcherResultRow *row = m_listModel->rowAt(index.row())) {
            const auto activate = row->activate;
            if (activate) {
                activate();
            }
        }
    });
    connect(m_list, &QListView::customContextMenuRequested, this, [this](const QPoint &point) {
        const QModelIndex index = m_list->indexAt(point);
        if (!index.isValid()) {
            return;
        }
        if (QMenu *menu = createRowMenu(index.row(), this)) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(m_list->viewport()->mapToGlobal(point));
        }
    });
    m_noMatches = new QLabel(qtTrId("No matches"), this);
    m_noMatches->setObjectName(QStringLiteral("quickSearchNoMatches"));
    m_noMatches->setAlignment(Qt::AlignCenter);
    m_noMatches->setStyleSheet(QStringLiteral("color: rgba(128,128,128,0.9);"));
    auto *listArea = new QWidget(this);
    m_listStack = new QStackedLayout(listArea);
    m_listStack->addWidget(m_list);
    m_listStack->addWidget(m_noMatches);
    layout->addWidget(listArea, 1);
    layout->addWidget(divider(this));

    // Footer: key hints, and the flash on the right.
    auto *footer = new QHBoxLayout;
    footer->setContentsMargins(16, 6, 16, 0);
    m_hints = new QLabel(this);
    m_hints->setObjectName(QStringLiteral("quickSearchHints"));
    m_hints->setTextFormat(Qt::RichText);
    QFont small = m_hints->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_hints->setFont(small);
    footer->addWidget(m_hints, 1);
    m_flash = new QWidget(this);
    auto *flashLayout = new QHBoxLayout(m_flash);
    flashLayout->setContentsMargins(0, 0, 0, 0);
    auto *check = new QLabel(m_flash);
    check->setPixmap(symbolIcon(Symbol::valid).pixmap(14, 14));
    flashLayout->addWidget(check);
    m_flashText = new QLabel(m_flash);
    m_flashText->setObjectName(QStringLiteral("quickSearchFlash"));
    m_flashText->setFont(small);
    flashLayout->addWidget(m_flashText);
    m_flashOpacity = new QGraphicsOpacityEffect(m_flash);
    m_flash->setGraphicsEffect(m_flashOpacity);
    m_flashFade = new QPropertyAnimation(m_flashOpacity, "opacity", this);
    m_flashFade->setDuration(flashFadeMilliseconds);
    m_flashFade->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_flashFade, &QPropertyAnimation::finished, this, [this] {
        if (m_flashOpacity->opacity() <= 0.0) {
            m_flash->hide();
        }
    });
    m_flash->hide();
    footer->addWidget(m_flash);
    layout->addLayout(footer);

    connect(m_searchField, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (m_model) {
            m_model->setQuery(text);
        }
    });
    connect(m_listModel, &QuickSwitcherListModel::refreshed, this,
            &QuickSwitcherView::updateAfterRefresh);

    // Every key reaches the key table before the field or the list acts on it.
    m_searchField->installEventFilter(this);
    m_list->installEventFilter(this);
    installEventFilter(this);
}

QuickSwitcherView::~QuickSwitcherView() = default;

void QuickSwitcherView::setModel(QuickSwitcherModel *model)
{
    if (m_model) {
        disconnect(m_model, nullptr, this, nullptr);
    }
    m_model = model;
    if (model) {
        connect(model, &QuickSwitcherModel::queryChanged, this, &QuickSwitcherView::updateQuery);
        connect(model, &QuickSwitcherModel::flashChanged, this, &QuickSwitcherView::updateFlash);
    }
    m_flashFade->stop();
    m_flashOpacity->setOpacity(0.0);
    m_flash->hide();
    updateQuery();
    m_listModel->setSource(model);
}

void QuickSwitcherView::focusSearchField()
{
    QTimer::singleShot(0, m_searchField, [field = m_searchField] {
        field->activateWindow();
        field->setFocus(Qt::ActiveWindowFocusReason);
    });
}

bool QuickSwitcherView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_model) {
        return QWidget::eventFilter(watched, event);
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    SearchFieldCaret caret;
    if (watched == m_searchField) {
        caret.present = true;
        caret.cursor = m_searchField->cursorPosition();
        caret.length = int(m_searchField->text().size());
        caret.hasSelection = m_searchField->hasSelectedText();
    }
    // The model may be dropped by the key (Escape closes the panel); it is deleted later.
    QPointer<QuickSwitcherModel> model = m_model;
    return handleQuickSwitcherKey(*model, key->key(), key->modifiers(), caret);
}

QMenu *QuickSwitcherView::createRowMenu(int row, QWidget *parent)
{
    const QuickSwitcherResultRow *shown = m_listModel->rowAt(row);
    if (!m_model || !shown) {
        return nullptr;
    }
    const ListKind list = m_model->currentList();
    const bool accountRow = list == ListKind::accounts;
    const bool serviceRow =
        list == ListKind::services && shown->title != QLatin1String("Console Home");
    if (!accountRow && !serviceRow) {
        return nullptr;
    }
    auto *menu = new QMenu(parent);
    QPointer<QuickSwitcherModel> model = m_model;
    menu->addAction(shown->pinned ? qtTrId("Unpin") : qtTrId("Pin to Top"), this, [model, row] {
        if (model) {
            model->setSelection(row);
            model->toggleSelectedPin();
        }
    });
    if (accountRow) {
        menu->addAction(qtTrId("Copy Account ID"), this, [model, row] {
            if (model) {
                model->setSelection(row);
                model->copySelectedAccountId();
            }
        });
    }
    return menu;
}

void QuickSwitcherView::updateQuery()
{
    const QString query = m_model ? m_model->query() : QString();
    if (m_searchField->text() != query) {
        m_searchField->setText(query);
    }
}

void QuickSwitcherView::updateAfterRefresh(int selection)
{
    m_listStack->setCurrentWidget(m_listModel->rowCount() > 0 ? static_cast<QWidget *>(m_list)
                                                              : m_noMatches);
    if (selection >= 0 && selection < m_listModel->rowCount()) {
        m_list->scrollTo(m_listModel->index(selection), QAbstractItemView::EnsureVisible);
    }
    updateHeader();
}

void QuickSwitcherView::updateHeader()
{
    if (!m_model) {
        return;
    }
    m_searchField->setPlaceholderText(m_model->placeholder());

    const auto [label, accountName] = contextOf(*m_model);
    m_contextChip->setVisible(!label.isEmpty());
    m_contextChip->setText(
        QStringLiteral("<b>%1</b> %2").arg(label.toHtmlEscaped(), accountName.toHtmlEscaped()));

    // On the accounts list the selected row names the account; asking the switcher would
    // rank the whole list again.
    QString accountId;
    if (m_model->currentList() == ListKind::accounts) {
        if (const QuickSwitcherResultRow *row = m_listModel->rowAt(m_listModel->selectedRow())) {
            accountId = row->subtitle.value_or(QString());
        }
    } else if (const auto account = m_model->currentAccount()) {
        accountId = account->accountId;
    }
    m_regionButton->setVisible(!accountId.isEmpty());
    if (!accountId.isEmpty()) {
        m_regionButton->setText(m_model->store().consoleRegionForAccount(accountId));
    }

    QStringList parts;
    for (const auto &[glyph, text] : hintsFor(m_model->currentList())) {
        parts.append(
            QStringLiteral("<b>%1</b>&nbsp;%2").arg(glyph.toHtmlEscaped(), text.toHtmlEscaped()));
    }
    m_hints->setText(parts.join(QStringLiteral("&nbsp;&nbsp;&nbsp;")));
}

void QuickSwitcherView::updateFlash()
{
    const QString flash = m_model ? m_model->flashOrEmpty() : QString();
    m_flashFade->stop();
    m_flashFade->setStartValue(m_flashOpacity->opacity());
    if (!flash.isEmpty()) {
        m_flashText->setText(flash);
        m_flash->show();
        m_flashFade->setEndValue(1.0);
    } else {
        m_flashFade->setEndValue(0.0);
    }
    m_flashFade->start();
}

} // namespace tessera
