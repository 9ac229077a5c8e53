#pragma once

#include "accounts/accountstore.h"

#include <QHash>
#include <QWidget>

class QCheckBox;
class QToolButton;

namespace tessera {

// Settings › Services: which console services are listed and which come first.
class ServicesSettingsPage : public QWidget
{
    Q_OBJECT

public:
    explicit ServicesSettingsPage(AccountStore *store, QWidget *parent = nullptr);

public Q_SLOTS:
    void update();

private:
    AccountStore *m_store;
    QHash<QString, QCheckBox *> m_toggles;
    QHash<QString, QToolButton *> m_pins;
};

} // namespace tessera
