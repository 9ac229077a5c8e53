#pragma once

#include "accounts/accountstore.h"

#include <QHash>
#include <QWidget>

class QCheckBox;
class QLabel;

namespace tessera {

class DefaultConsoleRegionPicker;

// Settings › Regions: the default console region and which catalog regions are offered.
class RegionsSettingsPage : public QWidget
{
    Q_OBJECT

public:
    explicit RegionsSettingsPage(AccountStore *store, QWidget *parent = nullptr);

    DefaultConsoleRegionPicker *picker() const { return m_picker; }

public Q_SLOTS:
    void enableUSOnly();
    void enableAll();
    // Shows the organization's enabled regions and normalises the default region.
    void update();

protected:
    void showEvent(QShowEvent *event) override;

private:
    AccountStore *m_store;
    DefaultConsoleRegionPicker *m_picker = nullptr;
    QLabel *m_count = nullptr;
    QHash<QString, QCheckBox *> m_toggles;
};

} // namespace tessera
