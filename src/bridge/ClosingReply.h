// One HTTP reply written on a connection that is then ended, its request
// never read: the refusals at the door (another account's connection, an
// account without a bridge). What the client still sends is read and
// dropped for a few seconds, so it sees the reply rather than a reset.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <nlohmann/json.hpp>

namespace bridge {

// Writes `reply` (a protocol error, its status from its code) and ends the
// connection. The socket's executor runs it; the call returns at once.
void SendClosingReply(boost::asio::ip::tcp::socket socket, const nlohmann::json &reply);

} // namespace bridge
