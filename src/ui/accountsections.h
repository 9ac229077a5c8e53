#pragma once

#include "storage/records.h"

#include <QList>
#include <QString>
#include <vector>

namespace tessera {

// One block of the panel's account list.
struct AccountSection
{
    enum class Kind
    {
        pinned,
        group,
        other
    };
    Kind kind = Kind::other;
    // "pinned", "other", or the group's name: what folding remembers.
    QString key;
    QString title;
    // Positions in the account list, in the order shown.
    std::vector<int> accounts;
};

inline constexpr auto pinnedSectionKey = "pinned";
inline constexpr auto otherSectionKey = "other";

// Pinned first (in pin order), then each group (in group order), then the rest; an
// account appears once, pinned before grouped. One pass over the accounts, so that an
// organization of thousands costs no more than reading its list.
QList<AccountSection> accountSections(const QList<AWSAccount> &accounts,
                                      const Organization &organization);

} // namespace tessera
