#pragma once

// Registers the records that cross threads in queued signals. The library does this when it
// is loaded; calling it again is harmless.
void registerRecordMetaTypes();
