#pragma once

#include "quicksearch/quickswitchermodel.h"

#include <QPointer>
#include <QWidget>

class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QListView;
class QPropertyAnimation;
class QStackedLayout;
class QToolButton;

namespace tessera {

class QuickSwitcherListModel;

// The content of the Quick Search panel: the header (search field, context chip, region
// button), the result list, the footer's key hints and the flash message. It shows one
// switcher model at a time and hands key presses to the key table before the search field
// sees them.
class QuickSwitcherView : public QWidget
{
    Q_OBJECT

public:
    explicit QuickSwitcherView(QWidget *parent = nullptr);
    ~QuickSwitcherView() override;

    void setModel(QuickSwitcherModel *model);
    QuickSwitcherModel *model() const { return m_model; }

    QLineEdit *searchField() const { return m_searchField; }
    QListView *resultList() const { return m_list; }
    QuickSwitcherListModel *listModel() const { return m_listModel; }
    QLabel *contextChip() const { return m_contextChip; }
    QToolButton *regionButton() const { return m_regionButton; }
    QLabel *footerHints() const { return m_hints; }
    QLabel *flashLabel() const { return m_flashText; }

    // The context menu of a row, as a right click would open it; nullptr when the row
    // has none. The caller owns the menu.
    QMenu *createRowMenu(int row, QWidget *parent);

    // Puts the keyboard focus into the search field on the next turn of the event loop.
    void focusSearchField();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateQuery();
    void updateHeader();
    void updateFlash();
    void updateAfterRefresh(int selection);

    QPointer<QuickSwitcherModel> m_model;
    QuickSwitcherListModel *m_listModel = nullptr;
    QLineEdit *m_searchField = nullptr;
    QLabel *m_contextChip = nullptr;
    QToolButton *m_regionButton = nullptr;
    QListView *m_list = nullptr;
    QLabel *m_noMatches = nullptr;
    QStackedLayout *m_listStack = nullptr;
    QLabel *m_hints = nullptr;
    QWidget *m_flash = nullptr;
    QLabel *m_flashText = nullptr;
    QGraphicsOpacityEffect *m_flashOpacity = nullptr;
    QPropertyAnimation *m_flashFade = nullptr;
};

} // namespace tessera
