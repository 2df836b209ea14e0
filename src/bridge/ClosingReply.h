// One HTTP reply written on a connection that is then ended, its request
// never read: the refusals at the door (another account's connection, an
// account without a bridge). What the client still sends is read and
// dropped for a few seconds, so it sees the reply rather than a reset.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <nlohmann/json.hpp>

namespace bridge {

// Writes `reply` (a protocol error, its status from its code unless
// `status` is given) and ends the connection. The socket's executor runs
// it; the call returns at once. At most kClosingReplies are on their way at
// once: beyond that a connection is closed at once, so refusals never hold
// more than a few descriptors.
inline constexpr int kClosingReplies = 64;
void SendClosingReply(boost::asio::ip::tcp::socket socket, const nlohmann::json &reply,
                      int status = 0);

} // namespace bridge
