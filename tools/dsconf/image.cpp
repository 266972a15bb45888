// SPDX-License-Identifier: BSD-3-Clause
// The store image and its description, both walked through the field table.
#include "tools/dsconf/image.h"

#include <arpa/inet.h>

#include <cstring>
#include <map>

#include "base/addr.h"
#include "base/text_rules.h"
#include "tools/dsconf/fields.h"
#include "tools/dsconf/files.h"

using nlohmann::json;

namespace dsconf {

[[noreturn]] void reject(const std::string &where, const json &value, const std::string &why) {
    throw bad_description(where + ": " + why + " (got " + value.dump() + ")");
}

long long integer(const json &value, const std::string &where, long long lo, long long hi) {
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (!value.is_number_integer()) reject(where, value, "expected an integer");
    long long v = value.get<long long>();
    if (v < lo || v > hi) reject(where, value, "must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

// Every text: no control character (a line break would corrupt the
// line-based files read at run time), and shorter than its field.
std::string text(const json &value, const std::string &where, std::size_t width) {
    if (!value.is_string()) reject(where, value, "expected a text");
    std::string s = value.get<std::string>();
    if (s.size() >= width) reject(where, value, "longer than " + std::to_string(width - 1) + " characters");
    no_control_characters(s, where, value);
    return s;
}

void no_control_characters(const std::string &s, const std::string &where, const json &value) {
    if (base::has_control_character(s)) reject(where, value, "holds a control character");
}

namespace {

using image_bytes = std::vector<unsigned char>;

void put_field(image_bytes &image, long long at, const field &f, const json &value, const std::string &where) {
    unsigned char *out = image.data() + at + f.offset;
    switch (f.kind) {
    case field_kind::byte:
        *out = static_cast<unsigned char>(integer(value, where, f.lo, f.hi));
        return;
    case field_kind::client_option:
    case field_kind::text: {
        std::string s = text(value, where, static_cast<std::size_t>(f.width));
        if (f.kind == field_kind::client_option && base::splits_an_option(s))
            reject(where, value, "holds a blank, '#' or '\\', which the dynamic-DNS client would split");
        std::memset(out, 0, static_cast<std::size_t>(f.width));
        std::memcpy(out, s.data(), s.size());
        return;
    }
    case field_kind::address: {
        if (!value.is_string()) reject(where, value, "expected an address");
        std::string s = value.get<std::string>();
        unsigned char addr[base::kIpv6Size] = {};
        unsigned char v4[base::kIpv4Size] = {};
        if (inet_pton(AF_INET, s.c_str(), v4) == 1)
            base::map_v4(v4, addr);
        else if (inet_pton(AF_INET6, s.c_str(), addr) != 1)
            reject(where, value, "not an IPv4 or IPv6 address");
        std::memcpy(out, addr, sizeof addr);
        return;
    }
    }
}

json get_field(const image_bytes &image, long long at, const field &f) {
    const unsigned char *in = image.data() + at + f.offset;
    switch (f.kind) {
    case field_kind::byte:
        return *in;
    case field_kind::text:
    case field_kind::client_option: {
        const char *start = reinterpret_cast<const char *>(in);
        return std::string(start, strnlen(start, static_cast<std::size_t>(f.width)));
    }
    case field_kind::address: {
        char t[INET6_ADDRSTRLEN] = {};
        if (base::is_v4_mapped(in))
            inet_ntop(AF_INET, in + base::kV4MappedOffset, t, sizeof t);
        else
            inet_ntop(AF_INET6, in, t, sizeof t);
        return std::string(t);
    }
    }
    return nullptr;
}

bool is_set(const image_bytes &image, long long at, const field &f) {
    for (int i = 0; i < f.width; ++i)
        if (image[static_cast<std::size_t>(at + f.offset + i)] != 0) return true;
    return false;
}

// Flattens an entry's object into dotted paths: {"a": {"b": 1}} is "a.b".
void flatten(const json &object, const std::string &prefix, std::map<std::string, json> &out,
             const std::string &where) {
    if (!object.is_object()) reject(where + prefix, object, "expected an object");
    for (auto &[key, value] : object.items()) {
        std::string path = prefix.empty() ? key : prefix + "." + key;
        if (value.is_object())
            flatten(value, path, out, where);
        else
            out[path] = value;
    }
}

const field *field_at(const record &r, const std::string &path) {
    for (const field &f : r.fields)
        if (path == f.path) return &f;
    return nullptr;
}

void apply_entry(const record &r, const json &entry, image_bytes &image) {
    long long index = 0;
    std::string where = r.key;
    std::map<std::string, json> values;
    if (r.shape == record_shape::value) {
        values[""] = entry;
    } else {
        flatten(entry, "", values, where + ".");
        if (r.shape == record_shape::table) {
            if (!values.count("index")) reject(where + "[]", entry, "each entry needs an \"index\"");
            index = integer(values["index"], where + "[].index", 0, r.count - 1);
            values.erase("index");
            // Appended piece by piece: `where += "." + ...` draws GCC 12's -Wrestrict
            // false positive inside std::string (char_traits.h) on 32-bit ARM.
            where.append(".").append(std::to_string(index));
        }
    }
    for (auto &[path, value] : values) {
        const field *f = field_at(r, path);
        std::string name = path.empty() ? where : where + "." + path;
        if (f == nullptr) throw bad_description("unknown setting \"" + name + "\"");
        put_field(image, r.offset(index), *f, value, name);
    }
}

// Returns the entry's description: the fields of every group with a set one.
json describe_entry(const record &r, const image_bytes &image, long long index) {
    long long at = r.offset(index);
    if (r.shape == record_shape::value)
        return is_set(image, at, r.fields[0]) ? get_field(image, at, r.fields[0]) : json();
    json entry = json::object();
    for (const field &f : r.fields) {
        bool group_set = false;
        for (const field &g : r.fields)
            group_set = group_set || (std::strcmp(g.group, f.group) == 0 && is_set(image, at, g));
        if (!group_set) continue;
        json *place = &entry;
        std::string path = f.path;
        for (std::size_t dot; (dot = path.find('.')) != std::string::npos; path.erase(0, dot + 1))
            place = &(*place)[path.substr(0, dot)];
        (*place)[path] = get_field(image, at, f);
    }
    if (entry.empty()) return json();
    if (r.shape == record_shape::table) entry["index"] = index;
    return entry;
}

const record *record_named(const std::string &key) {
    for (const record &r : kRecords)
        if (key == r.key) return &r;
    return nullptr;
}

}  // namespace

}  // namespace dsconf

using namespace dsconf;

void apply_description(const json &d, device_config &config) {
    if (!d.is_object()) reject("description", d, "expected an object");
    config.image.resize(store::kImageSize, 0);
    for (auto &[key, value] : d.items()) {
        if (const record *r = record_named(key)) {
            if (r->shape != record_shape::table) {
                apply_entry(*r, value, config.image);
                continue;
            }
            if (!value.is_array()) reject(key, value, "expected a list");
            for (const json &entry : value) apply_entry(*r, entry, config.image);
        } else if (!apply_file(key, value, config)) {
            throw bad_description("unknown setting \"description." + key + "\"");
        }
    }
}

json describe(const device_config &config) {
    json d = json::object();
    for (const record &r : kRecords) {
        if (r.shape != record_shape::table) {
            json entry = describe_entry(r, config.image, 0);
            if (!entry.is_null()) d[r.key] = entry;
            continue;
        }
        json list = json::array();
        for (int i = 0; i < r.count; ++i) {
            json entry = describe_entry(r, config.image, i);
            if (!entry.is_null()) list.push_back(entry);
        }
        if (!list.empty()) d[r.key] = list;
    }
    describe_files(config, d);
    return d;
}

json setting(const std::string &key, const std::string &value) {
    std::vector<std::string> parts;
    for (std::size_t start = 0, dot;; start = dot + 1) {
        dot = key.find('.', start);
        parts.push_back(key.substr(start, dot == std::string::npos ? dot : dot - start));
        if (dot == std::string::npos) break;
    }
    const record *r = record_named(parts[0]);
    if (r == nullptr) return file_setting(parts, key, value);
    std::size_t first_field = r->shape == record_shape::table ? 2 : 1;
    if (parts.size() < first_field) throw bad_description("unknown setting \"" + key + "\"");
    std::string path;
    for (std::size_t i = first_field; i < parts.size(); ++i) path += (path.empty() ? "" : ".") + parts[i];
    const field *f = field_at(*r, path);
    if (f == nullptr) throw bad_description("unknown setting \"" + key + "\"");
    json v = value;
    if (f->kind == field_kind::byte) {
        v = json::parse(value, nullptr, false);
        if (v.is_discarded() || !(v.is_number_integer() || v.is_boolean()))
            throw bad_description(key + ": expected an integer (got \"" + value + "\")");
    }
    if (r->shape == record_shape::value) return {{r->key, v}};
    json entry = json::object();
    json *place = &entry;
    for (std::size_t i = first_field; i + 1 < parts.size(); ++i) place = &(*place)[parts[i]];
    (*place)[parts.back()] = v;
    if (r->shape == record_shape::single) return {{r->key, entry}};
    char *end = nullptr;
    long long index = std::strtoll(parts[1].c_str(), &end, 10);
    if (*end || parts[1].empty()) throw bad_description(key + ": bad index \"" + parts[1] + "\"");
    entry["index"] = index;
    return {{r->key, json::array({entry})}};
}
