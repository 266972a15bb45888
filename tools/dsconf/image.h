// SPDX-License-Identifier: BSD-3-Clause
// The configuration store image and the device library's files, as one
// readable JSON description.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

// A description that cannot be applied; the text names the field and value.
struct bad_description : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct device_config {
    std::vector<unsigned char> image;
    std::string users, dyndns_ssl, port_services;
    bool has_users = false, has_dyndns_ssl = false, has_port_services = false;
};

// Applies every field `description` names onto `config`; throws bad_description.
void apply_description(const nlohmann::json &description, device_config &config);

// Returns the description of every field of `config` that is set.
nlohmann::json describe(const device_config &config);

// Returns a description naming only the setting `key` ("ports.0.dyndns.user",
// "dyndns.connection"), with `value` as that setting takes it.
nlohmann::json setting(const std::string &key, const std::string &value);
