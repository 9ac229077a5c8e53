#include "awsconfig/awsconfigmanager.h"
