#pragma once
// The record every process exchanges, under the short names the rest of the house uses.
#include "quorvane/TraceRecord.h"

using TraceRecord = quorvane::TraceRecord;
using quorvane::kTraceRecordSize;
