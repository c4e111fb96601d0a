// How an output reaches its final name, and how a later run knows it did.
//
// pellion-embed writes the output under a temporary name in the final directory, one that
// pick-up tools pass over (".NAME.pellion-partial": a leading dot, no ".wav" at the end).
// Only after it succeeded is a record written beside the output (".NAME.pellion-done") and
// synced, then the temporary file renamed to the final name and the directory synced. The
// record names the input's size and modification time and the delivered file's inode, size
// and modification time, so it holds only for that file: a run killed at any instant leaves
// either no final name, or a final name whose record matches it, or an earlier output whose
// record no longer does. Each output has files of its own, so runs of other shards may work
// in the same tree at the same time.
#pragma once

#include <optional>
#include <string>

#include "work_list.h"

std::string TemporaryPathOf(const std::string& output);
std::string RecordPathOf(const std::string& output);

// The input's name, size and modification time as a record keeps them; empty when the input
// cannot be looked at. Taken before pellion-embed starts, so that an input changed during the
// run makes the next run embed it again.
std::string InputState(const WorkItem& item);

// The record of `delivered` (the final name, or the temporary file about to become it) as it
// is now, made from `inputState`; nothing when it cannot be looked at or the input could not.
std::optional<std::string> DeliveryRecord(const std::string& inputState,
                                          const std::string& delivered,
                                          const std::optional<std::string>& channelName);

// Whether an earlier run delivered the output of `item` from the input as it is now, with
// the same channel.
bool AlreadyDelivered(const WorkItem& item, const std::optional<std::string>& channelName);

// Makes the output's directory and removes a temporary file a killed run left. Throws a
// CodeException (44) with its cause.
void PrepareOutput(const WorkItem& item);

// After pellion-embed succeeded: the record, the rename, the directory's sync. On failure
// the temporary file and the record are removed and a CodeException (44) thrown.
void DeliverOutput(const WorkItem& item, const std::string& inputState,
                   const std::optional<std::string>& channelName);

// After pellion-embed failed or was stopped: the temporary file goes.
void DiscardOutput(const WorkItem& item);
