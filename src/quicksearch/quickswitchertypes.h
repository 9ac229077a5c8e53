#pragma once

#include "catalog/consolecatalog.h"
#include "storage/records.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace tessera {

// Which base list Quick Search shows: every account, the roles of one account, or the
// console services for one account and role. Fields a case does not use stay empty.
struct QuickSwitcherMode
{
    enum class Kind
    {
        roles,
        services,
        accounts
    };

    Kind kind = Kind::accounts;
    AWSAccount account;
    QString role;

    static QuickSwitcherMode accounts() { return {}; }
    static QuickSwitcherMode roles(AWSAccount account)
    {
        return {Kind::roles, std::move(account), {}};
    }
    static QuickSwitcherMode services(AWSAccount account, QString role)
    {
        return {Kind::services, std::move(account), std::move(role)};
    }

    bool isAccounts() const { return kind == Kind::accounts; }
    bool isRoles() const { return kind == Kind::roles; }
    bool isServices() const { return kind == Kind::services; }

    bool operator==(const QuickSwitcherMode &) const = default;
};

// What an open action menu acts on.
struct QuickActionTarget
{
    enum class Kind
    {
        account,
        role,
        service
    };

    Kind kind = Kind::account;
    AWSAccount account;
    QString role;
    ConsoleService service;

    static QuickActionTarget forAccount(AWSAccount account)
    {
        return {Kind::account, std::move(account), {}, {}};
    }
    static QuickActionTarget forRole(AWSAccount account, QString role)
    {
        return {Kind::role, std::move(account), std::move(role), {}};
    }
    static QuickActionTarget forService(AWSAccount account, QString role, ConsoleService service)
    {
        return {Kind::service, std::move(account), std::move(role), std::move(service)};
    }

    bool operator==(const QuickActionTarget &) const = default;
};

struct QuickResultAction
{
    enum class Kind
    {
        open,
        browseRoles,
        browseServices,
        copyConsoleLink,
        copyAccountId,
        browseAWSProfiles,
        changeRegion,
        changeGroup,
        toggleAccountPin,
        toggleServicePin
    };

    QString id;
    QString title;
    std::optional<QString> subtitle;
    Kind kind = Kind::open;

    // Actions that lead to another list or picker; their rows show a chevron.
    bool leadsFurther() const
    {
        return kind == Kind::browseRoles || kind == Kind::browseServices ||
               kind == Kind::browseAWSProfiles || kind == Kind::changeRegion ||
               kind == Kind::changeGroup;
    }

    bool operator==(const QuickResultAction &) const = default;
};

struct QuickGroupChoice
{
    enum class Kind
    {
        existing,
        create,
        noGroup
    };

    QString id;
    QString title;
    std::optional<QString> subtitle;
    Kind kind = Kind::noGroup;
    // The group for `existing` and `create`; empty for `noGroup`.
    QString groupName;

    bool operator==(const QuickGroupChoice &) const = default;
};

// An action menu hidden by the list or picker one of its actions opened; Back brings it
// back as it was.
struct SuspendedActionMenu
{
    QuickActionTarget target;
    QStringList profileNames;
    QuickSwitcherMode mode;
    QString queryBeforeMenu;
    int selectionBeforeMenu = 0;
    int actionSelection = 0;

    bool operator==(const SuspendedActionMenu &) const = default;
};

// A roles list left by opening one of its roles into its services.
struct ModeHistoryEntry
{
    QuickSwitcherMode mode;
    QString query;
    int selection = 0;

    bool operator==(const ModeHistoryEntry &) const = default;
};

// What one row of the current list shows.
struct QuickSwitcherResultRow
{
    QString title;
    std::optional<QString> subtitle;
    std::optional<QString> trailing;
    std::optional<QString> tag;
    bool pinned = false;
    bool showChevron = false;
    bool selected = false;
    // Selects the row and activates it, as Return would.
    std::function<void()> activate;
};

// Some rows of the current list and how many rows the whole list has.
struct QuickSwitcherRowWindow
{
    QList<QuickSwitcherResultRow> rows;
    int total = 0;
};

} // namespace tessera

Q_DECLARE_METATYPE(tessera::QuickSwitcherMode)
