#pragma once

// The broker the transport goes through, made ready before the server receives: the topic
// exchange every address is bound to exists. A failure ends the program with libmqaid's line
// saying what the broker answered.
namespace BrokerSetup
{

// Does nothing when libvqs's settings choose direct TCP.
void prepare();

} // namespace BrokerSetup
