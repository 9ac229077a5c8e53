#pragma once

#include <QLoggingCategory>

// Session, sync and token-refresh events that are not shown to the user.
Q_DECLARE_LOGGING_CATEGORY(lcSession)
