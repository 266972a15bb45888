// SPDX-License-Identifier: BSD-3-Clause
#include <syslog.h>

#include "platform/device.h"

int send_auth_alert(int, int kind, const char *text) {
    const char *what = kind == device::kAlertSuccess   ? "success"
                       : kind == device::kAlertFailure ? "failure"
                                                  : "event";
    syslog(LOG_AUTH | LOG_NOTICE, "alert %d (%s): %s", kind, what, text ? text : "");
    return 0;
}
