#pragma once

// The client's side of the catalog dialogue, run by the facade in its own thread.
namespace CatalogRequest
{

// Announces this client to the catalog server and asks for the catalog (join and data
// request frames to client-conf:serverip). Unless client-conf:vqssend is exactly "true" it
// also fetches the catalog file over HTTP and sends each of its lines, newline kept, to
// this client's own receiver at 127.0.0.1.
void send();
// The same without the reports: asking again for a catalog that did not come.
void ask();
// The join and data request frames alone.
void sendRequests();
// Unless client-conf:vqssend is exactly "true", replayCatalogFile.
void replayUnlessOverTransport();
// Fetches the catalog file over HTTP and sends each of its lines to this client's receiver.
void replayCatalogFile();

// Rewrites the installed-package table at once, in the calling thread: one rpm -qa into
// info.txt in the working directory, no retry, then the install states of the catalog.
void initDatabaseData();

} // namespace CatalogRequest
