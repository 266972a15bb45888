// SPDX-License-Identifier: BSD-3-Clause
#include "device/string_list.h"

#include <new>
#include <syslog.h>

#include "platform/device.h"
#include "platform/pam_env.h"

pamutil_string_list *pamutil_getenv_string_list(pam_handle_t *pamh, const char *key) {
    try {
        if (pamh == nullptr || key == nullptr) return nullptr;
        const char *text = pam_getenv(pamh, key);
        if (text == nullptr) return nullptr;
        auto values = pam_env::decode_list(text);
        if (!values) {
            syslog(LOG_ERR, "pamutil: %s does not hold a valid list, ignored", key);
            return nullptr;
        }
        return new pamutil_string_list{std::move(*values)};
    } catch (...) {
        return nullptr;
    }
}

int pamutil_putenv_string_list(pam_handle_t *pamh, const char *key,
                               const pamutil_string_list *list) {
    try {
        if (pamh == nullptr || key == nullptr || list == nullptr) return PAM_BUF_ERR;
        std::string text = key;
        text += '=';
        text += pam_env::encode_list(list->values);
        return pam_putenv(pamh, text.c_str());
    } catch (...) {
        return PAM_BUF_ERR;
    }
}

void pamutil_free_string_list(pamutil_string_list *list) { delete list; }

pamutil_string_list *pamutil_new_string_list(void) {
    return new (std::nothrow) pamutil_string_list{};
}

int pamutil_append_string(pamutil_string_list *list, const char *value) {
    try {
        if (list == nullptr || value == nullptr || list->values.size() >= pam_env::kListMaxValues) return -1;
        list->values.emplace_back(value);
        return 0;
    } catch (...) {
        return -1;
    }
}

int pamutil_string_list_count(const pamutil_string_list *list) {
    return list ? static_cast<int>(list->values.size()) : 0;
}

const char *pamutil_string_list_at(const pamutil_string_list *list, int index) {
    if (list == nullptr || index < 0 || static_cast<std::size_t>(index) >= list->values.size())
        return nullptr;
    return list->values[static_cast<std::size_t>(index)].c_str();
}
