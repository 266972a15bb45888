// SPDX-License-Identifier: BSD-3-Clause
// dsconf's files switched all at once. Each file the device library reads is
// a symbolic link into the current generation, and a save switches every
// file by one rename of the link that names that generation:
//
//   DIR/store.img, users, dyndns-ssl.conf, port-services.conf
//       -> .dsconf/current/<same name>      (links, made once)
//   DIR/.dsconf/current -> gen.XXXXXX       (replaced by one rename)
//   DIR/.dsconf/gen.XXXXXX/                 one generation: the files
//   DIR/.dsconf/lock                        held while dsconf works
//
// A run killed at any point leaves the old set or the new set; the next run
// removes the generation it was writing. The first save over plain files
// makes the links without changing a byte a reader sees: the plain files are
// copied into a generation first, and each is then replaced by a link to its
// own copy. Only these four names move; other files in DIR stay as they are.
#pragma once

#include <map>
#include <string>

#include "base/unique_fd.h"

namespace dsconf {

// A file of the set: its content and mode.
struct set_file {
    std::string content;
    unsigned mode = 0;
};
// The set by file name; a name left out is absent from the generation.
using file_set = std::map<std::string, set_file>;

// Returns the lock on DIR's generations, taken after making DIR and its
// .dsconf (when `create`), with what a killed run left removed; an empty
// descriptor when DIR has no .dsconf and `create` is false. Throws a
// std::runtime_error naming the path on failure, or when .dsconf is not a
// directory of ours that nobody else may write.
base::unique_fd lock_generations(const std::string &dir, bool create);

// Writes `files` as a new generation and switches DIR's files to it at once
// (under the lock). Throws a std::runtime_error naming the path on failure,
// the old set then still in place.
void switch_generation(const std::string &dir, const file_set &files);

}  // namespace dsconf
