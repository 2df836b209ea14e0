#!/usr/bin/python3
"""A desktop notification service for tests.

Owns org.freedesktop.Notifications on the bus at ADDRESS and appends each
notification it is sent to FILE as one line: application, icon, summary and
body, separated by tabs. Writes FILE.ready once it owns the name.

    notification_service.py ADDRESS FILE
"""
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
  </interface>
</node>
"""


def main():
    address, record = sys.argv[1], sys.argv[2]
    sent = [0]

    def on_call(_connection, _sender, _path, _interface, method, parameters, invocation):
        if method == "Notify":
            app, _replaces, icon, summary, body = parameters.unpack()[:5]
            with open(record, "a", encoding="utf-8") as out:
                out.write("\t".join((app, icon, summary, body)) + "\n")
            sent[0] += 1
            invocation.return_value(GLib.Variant("(u)", (sent[0],)))
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["body"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("test", "quillbay", "1", "1.2")))
        else:
            invocation.return_value(None)

    def on_acquired(_connection, _name):
        open(record + ".ready", "w").close()

    flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
             | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    connection = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    connection.register_object("/org/freedesktop/Notifications", node.interfaces[0], on_call,
                               None, None)
    Gio.bus_own_name_on_connection(connection, "org.freedesktop.Notifications",
                                   Gio.BusNameOwnerFlags.NONE, on_acquired, None)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
