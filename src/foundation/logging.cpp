#include "foundation/logging.h"

Q_LOGGING_CATEGORY(lcPersistence, "com.tessera.app.Persistence", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHotKey, "com.tessera.app.HotKey", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAWSConfig, "com.tessera.app.AWSConfig", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "com.tessera.app.App", QtInfoMsg)
Q_LOGGING_CATEGORY(lcNetwork, "com.tessera.app.Network", QtInfoMsg)
