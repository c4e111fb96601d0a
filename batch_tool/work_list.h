// What a batch has to do: the (input, output) pairs of an input tree or of a manifest, in a
// stable order, and the share of them that one shard takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct WorkItem {
    std::string input;   // as pellion-embed is to open it
    std::string output;  // the final name
    // The path relative to the input tree, or the output as the manifest writes it: what the
    // shard of the item is computed from, what the report names, and what the record keeps.
    std::string key;
    // The input as the delivery record names it: relative to the tree, or as the manifest
    // writes it, so that a tree reached by another path (another mount) is still the same.
    std::string inputName;
};

// Every regular file whose name ends in ".wav" or ".WAV" under `inputDirectory`, at any depth,
// to the same relative path under `outputDirectory`, sorted by that path. Names beginning with
// a dot are passed over, directories too: the batch's own files begin with one. Throws a
// CodeException (44) when the tree cannot be read, 43 when the output directory lies in it.
std::vector<WorkItem> ListInputTree(const std::string& inputDirectory,
                                    const std::string& outputDirectory);

// The pairs of a manifest's text, one "input<TAB>output" a line (empty lines are passed
// over, a line may end in CR). A relative output goes under `outputDirectory` when one is
// given. Sorted by key. Throws a CodeException (43) for a line that is no pair, or for two
// lines with one output.
std::vector<WorkItem> ParseManifest(const std::string& text, const std::string& outputDirectory);

// The shard (0 to count - 1) that `key` belongs to, the same on every machine: a 64-bit
// FNV-1a hash of the key's bytes, modulo `count`.
uint32_t ShardOf(const std::string& key, uint32_t count);

// The items of shard `index` of `count`, in their order.
std::vector<WorkItem> TakeShard(const std::vector<WorkItem>& items, uint32_t index, uint32_t count);
