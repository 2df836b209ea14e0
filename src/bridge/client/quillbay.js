/*
 * quillbay.js: the page's side of quillbay-bridge, the local program that
 * creates and calls the quillbay print object for pages in today's browsers.
 *
 * Include it from the bridge:
 *
 *   <script src="http://127.0.0.1:18412/quillbay.js"></script>
 *
 * A page written for the object then runs unchanged: where the browser has
 * no ActiveXObject, `new ActiveXObject("Quillbay.QuillDoc")` gives an object
 * whose methods call the bridge synchronously, and every
 * <object classid="clsid:..." id="..."> tag gets the methods of its object.
 * As in the script host, a method that returns S_FALSE raises nothing, a
 * failing HRESULT throws an Error carrying it (error.number), and the
 * [retval] value is the call's result.
 *
 * New pages use the asynchronous API, where every method returns a Promise:
 *
 *   const bridge = await Quillbay.connect();
 *   const doc = await bridge.create("Quillbay.QuillDoc");
 *   await doc.SetPrinter("1");
 *
 * Quillbay.check() tells "absent" (not running or not installed), "refused"
 * (the user has not allowed this site), "too-old" and "ready", with the
 * bridge's version and the methods it offers; "blocked-by-browser" when the
 * browser does not let this site reach the bridge on this computer (local
 * network access), and "prompt" while the browser asks the user. Print jobs
 * report their progress as "job" events on Quillbay and on each connection.
 *
 * A connection also lists the printers (printers()), sends its jobs to one
 * of them (usePrinter(name), null for the default), previews its jobs
 * rather than printing them (preview(true): each "finished" event carries
 * the addresses of the job's PDF and PNG), and reports the states of
 * printers it watches (watchPrinters(names)) as "printer" events; jobs a
 * CUPS printer took report its states as "job" events of stage "state".
 * useCopies(n) asks n copies of each later job; printRaw(printer, data)
 * sends a label or receipt printer's own commands (a string, or bytes as a
 * Uint8Array or ArrayBuffer) unchanged as one job.
 *
 * A browser that refuses a site the bridge refuses this script too; a page
 * that wants to tell its users why loads a copy of it from its own site,
 * with data-bridge="http://127.0.0.1:18412" on the script tag.
 *
 * The bridge is the script's own origin when it is a loopback one, else the
 * script tag's data-bridge attribute, else http://127.0.0.1:18412.
 */
(function(window, document) {
"use strict";

var PROTOCOL = 1;
var DEFAULT_BRIDGE = "http://127.0.0.1:18412";
var bridge = bridgeAddress(document.currentScript);
var events = new EventTarget();

function bridgeAddress(script) {
    var configured = script && script.getAttribute("data-bridge");
    if (configured)
        return configured.replace(/\/+$/, "");
    if (script && script.src) {
        var url = new URL(script.src, document.baseURI);
        if (/^(127\.0\.0\.1|\[::1\]|localhost)$/i.test(url.hostname))
            return url.origin;
    }
    return DEFAULT_BRIDGE;
}

// ---- Errors ----------------------------------------------------------

function QuillbayError(code, message, hresult) {
    var error = new Error(message);
    error.name = "QuillbayError";
    error.code = code;
    if (typeof hresult === "number") {
        error.number = hresult; // as the error of a failing member always carried it
        error.hresult = hresult;
    }
    return error;
}

function errorOf(reply) {
    return QuillbayError(reply.error.code, reply.error.message, reply.error.hresult);
}

function unreachable(detail) {
    return QuillbayError("unreachable", "quillbay-bridge is not reachable at " + bridge +
                                            " (not running, or stopped)" +
                                            (detail ? ": " + detail : ""));
}

var BLOCKED_MESSAGE = "the browser does not let this site reach quillbay-bridge on this " +
                      "computer (local network access): allow it in the site's settings, " +
                      "or ask the administrator to allow the site for the machine";
var PROMPT_MESSAGE = "waiting for the user: the browser asks whether this site may reach " +
                     "quillbay-bridge on this computer";

function blockedByBrowser() { return QuillbayError("blocked-by-browser", BLOCKED_MESSAGE); }

// ---- The browser's decision about local network access -------------
//
// Browsers gate a public site's requests to loopback addresses and tell
// the page their decision through the Permissions API: "loopback-network",
// "local-network-access" in the versions before it, "local-network" for
// the local network's addresses.

var PERMISSIONS = [ "loopback-network", "local-network-access", "local-network" ];
// How long a request may go unanswered, while the browser's permission
// reads "prompt", before check() tells the page the browser is asking.
var PROMPT_WAIT = 1500;
var permission = null; // the last PermissionStatus read; its state stays current

function browserDecision() {
    var permissions = window.navigator.permissions;
    if (!permissions || typeof permissions.query !== "function")
        return Promise.resolve(null);
    var names = PERMISSIONS.slice();
    function next() {
        if (!names.length)
            return null;
        return permissions.query({name : names.shift()}).then(function(status) {
            permission = status;
            return status.state;
        }, next); // a name this browser does not know
    }
    return Promise.resolve().then(next);
}

// Why a request did not reach the bridge, for the synchronous calls, which
// cannot wait for the Permissions API: the decision read last.
function failure(detail) {
    return permission && permission.state === "denied" ? blockedByBrowser() : unreachable(detail);
}

// ---- Values between the page and the bridge ------------------------

var objectIds = new WeakMap();   // an object of ours -> {owner, id}
var memberNames = new WeakMap(); // an object of ours -> its members' names

function encode(value, owner) {
    if (value === undefined)
        return {$ : "undefined"};
    if (value === null || typeof value === "boolean" || typeof value === "string")
        return value;
    if (typeof value === "number")
        return isFinite(value) ? value : {$ : "number", value : String(value)};
    var known = objectIds.get(value);
    if (known && known.owner === owner)
        return {$ : "object", id : known.id};
    return String(value); // any other value goes as its text, as in the script host
}

// `owner` keeps the session's objects by number, so one object stays one.
function decode(value, owner, makeObject) {
    if (value === null || typeof value !== "object")
        return value;
    if (value.$ === "undefined")
        return undefined;
    if (value.$ === "number")
        return Number(value.value);
    if (value.$ === "object") {
        if (!owner.objects.has(value.id))
            owner.objects.set(value.id, makeObject(value));
        return owner.objects.get(value.id);
    }
    return value;
}

// A previewed job's files are addresses on the bridge, valid while the
// session lasts.
function withPreviewAddresses(event) {
    if (event.preview)
        Object.keys(event.preview).forEach(function(kind) {
            if (/^\//.test(event.preview[kind]))
                event.preview[kind] = bridge + event.preview[kind];
        });
    return event;
}

// Bytes (a Uint8Array or other view, an ArrayBuffer, an array of numbers)
// as base64, for a raw job's binary commands.
function toBase64(data) {
    var bytes = ArrayBuffer.isView(data)
                    ? new Uint8Array(data.buffer, data.byteOffset, data.byteLength)
                    : new Uint8Array(data);
    var text = "";
    for (var i = 0; i < bytes.length; i += 0x8000)
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return window.btoa(text);
}

// A document as base64: a string is taken as base64 already; a Blob is
// read first.
function base64Of(data) {
    if (typeof data === "string")
        return Promise.resolve(data);
    if (typeof Blob !== "undefined" && data instanceof Blob)
        return data.arrayBuffer().then(toBase64);
    return Promise.resolve(toBase64(data));
}

function dispatchEvents(list, target) {
    (list || []).map(withPreviewAddresses).forEach(function(event) {
        if (target)
            target.dispatchEvent(new CustomEvent(event.event, {detail : event}));
        events.dispatchEvent(new CustomEvent(event.event, {detail : event}));
    });
}

// An object whose members are those of its type information, found by
// name whatever the case, as the script host finds them.
function makeObject(description, owner, invoke, excluded) {
    var names = Object.create(null);
    (description.members ||
     []).forEach(function(member) { names[member.name.toLowerCase()] = member.name; });
    var methods = Object.create(null);
    var proxy = new Proxy({}, {
        get : function(target, name, receiver) {
            if (typeof name === "string" && name !== excluded) {
                var member = names[name.toLowerCase()];
                if (member !== undefined) {
                    return methods[member] || (methods[member] = function() {
                               return invoke(description.id, member,
                                             Array.prototype.slice.call(arguments));
                           });
                }
            }
            return Reflect.get(target, name, receiver);
        },
        has : function(target, name) {
            return (typeof name === "string" && names[name.toLowerCase()] !== undefined) ||
                   name in target;
        }
    });
    objectIds.set(proxy, {owner : owner, id : description.id});
    memberNames.set(proxy, (description.members || []).map(function(m) { return m.name; }));
    return proxy;
}

// ---- The synchronous session of legacy pages ----------------------

var legacy = {token : null, objects : new Map(), keepAlive : 0};

// The reply of a request; `seen` looks at it before an error is thrown.
function readReply(status, text, seen) {
    var reply = null;
    try {
        reply = JSON.parse(text);
    } catch (e) {
        reply = null;
    }
    if (status === 0 || !reply || typeof reply !== "object")
        throw status ? unreachable("HTTP " + status) : failure("");
    if (seen)
        seen(reply);
    dispatchEvents(reply.events);
    if (reply.error)
        throw errorOf(reply);
    return reply;
}

function postSync(path, message, seen) {
    var request = new XMLHttpRequest();
    try {
        request.open("POST", bridge + path, false);
        request.send(JSON.stringify(message)); // text/plain: no preflight per call
    } catch (e) {
        throw failure(e.message);
    }
    return readReply(request.status, request.responseText, seen);
}

// The page's session, opened by its first object (in the same round
// trip) and kept open while the page is: a page may wait long between
// calls.
function adoptSession(reply) {
    if (legacy.token || !reply.session)
        return;
    legacy.token = reply.session;
    var every = Math.max(5, Math.min(60, reply.idleTimeout / 3)) * 1000;
    legacy.keepAlive = window.setInterval(function() {
        if (legacy.token)
            postAsync("/call", {session : legacy.token, op : "ping"}).catch(function() {});
    }, every);
}

function callLegacy(message) {
    if (!legacy.token && message.op !== "create")
        adoptSession(postSync("/session", {}));
    if (legacy.token)
        message.session = legacy.token;
    return postSync("/call", message, adoptSession);
}

function makeLegacyObject(description) {
    return makeObject(description, legacy, function(id, member, args) {
        var reply = callLegacy({
            op : "call",
            object : id,
            member : member,
            args : args.map(function(arg) { return encode(arg, legacy); })
        });
        return decode(reply.value, legacy, makeLegacyObject);
    });
}

function createLegacy(message) {
    return decode(callLegacy(message).value, legacy, makeLegacyObject);
}

window.addEventListener("pagehide", function() {
    if (!legacy.token)
        return;
    navigator.sendBeacon(bridge + "/call", JSON.stringify({session : legacy.token, op : "close"}));
    window.clearInterval(legacy.keepAlive);
    legacy.token = null;
    legacy.objects.clear();
});

function ActiveXObject(progId) { return createLegacy({op : "create", progId : String(progId)}); }

// <object classid="clsid:..."> tags, bound as the parser meets them.
var boundTags = new WeakSet();

function bindObjectTag(element) {
    var classId = element.getAttribute("classid");
    if (boundTags.has(element) || !classId || !/^\s*clsid:/i.test(classId))
        return;
    boundTags.add(element);
    try {
        var object = createLegacy({op : "create", classId : classId.trim()});
        // The element itself carries the methods, as the object's own
        // element did (page scripts reach it by its id).
        memberNames.get(object).forEach(function(name) {
            Object.defineProperty(element, name,
                                  {configurable : true, writable : true, value : object[name]});
        });
        element.quillbayObject = object;
    } catch (e) {
        element.quillbayError = e;
        console.error("quillbay: object " + (element.id || classId) + ": " + e.message);
    }
}

function bindObjectTags(root) {
    if (root.nodeType !== 1)
        return;
    if (root.localName === "object")
        bindObjectTag(root);
    Array.prototype.forEach.call(root.querySelectorAll("object[classid]"), bindObjectTag);
}

// ---- The asynchronous API -------------------------------------------

function postAsync(path, message) {
    return fetch(bridge + path,
                 {method : "POST", body : JSON.stringify(message), cache : "no-store"})
        .then(
            function(response) {
                return response.text().then(function(
                    text) { return readReply(response.status, text); });
            },
            function(error) {
                return browserDecision().then(function(state) {
                    throw state === "denied" ? blockedByBrowser() : unreachable(error.message);
                });
            });
}

function compareVersions(a, b) {
    var x = String(a).split("."), y = String(b).split(".");
    for (var i = 0; i < Math.max(x.length, y.length); ++i) {
        var d = (parseInt(x[i], 10) || 0) - (parseInt(y[i], 10) || 0);
        if (d)
            return d;
    }
    return 0;
}

function statusOf(body, wanted) {
    if (body.error)
        return {
            state : body.error.code === "origin-refused" ? "refused" : "error",
            code : body.error.code,
            message : body.error.message
        };
    var old = body.protocol < PROTOCOL || (wanted && compareVersions(body.version, wanted) < 0);
    return {
        state : old ? "too-old" : "ready",
        version : body.version,
        protocol : body.protocol,
        classes : body.classes,
        message : old ? "quillbay-bridge " + body.version + " is older than this page needs" : ""
    };
}

// Asks the bridge for its version; the answer waits for any question the
// browser (or the bridge) puts to the user.
function probe(options) {
    var wanted = options && options.minVersion;
    return fetch(bridge + "/version", {cache : "no-store"})
        .then(function(response) { return response.json(); })
        .then(function(body) { return statusOf(body, wanted); },
              function() {
                  return browserDecision().then(function(state) {
                      if (state === "denied")
                          return {
                              state : "blocked-by-browser",
                              code : "blocked-by-browser",
                              message : BLOCKED_MESSAGE
                          };
                      return {
                          state : "absent",
                          message : "quillbay-bridge is not running (or not installed) at " + bridge
                      };
                  });
              });
}

// As probe(), but while the browser asks the user the page hears so at
// once: "prompt", with the answer to come in `answered`.
function check(options) {
    var answered = probe(options);
    return new Promise(function(resolve) {
        answered.then(resolve);
        browserDecision().then(function(state) {
            if (state === "prompt")
                window.setTimeout(function() {
                    resolve({
                        state : "prompt",
                        code : "prompt",
                        message : PROMPT_MESSAGE,
                        answered : answered
                    });
                }, PROMPT_WAIT);
        });
    });
}

function Connection(socket) {
    var target = new EventTarget();
    var pending = new Map();
    var owner = {objects : new Map()};
    var next = 1;
    var failure = null;

    function request(message) {
        if (!failure && socket.readyState !== WebSocket.OPEN)
            failure = QuillbayError("closed", "the connection to quillbay-bridge is closed");
        if (failure)
            return Promise.reject(failure);
        message.id = next++;
        socket.send(JSON.stringify(message));
        return new Promise(function(
            resolve, reject) { pending.set(message.id, {resolve : resolve, reject : reject}); });
    }

    function makeAsyncObject(description) {
        return makeObject(description, owner, function(id, member, args) {
            return request({
                       op : "call",
                       object : id,
                       member : member,
                       args : args.map(function(arg) { return encode(arg, owner); })
                   })
                .then(function(reply) { return decode(reply.value, owner, makeAsyncObject); });
        }, "then"); // not a thenable, so `await` gives the object itself
    }

    this.receive = function(message) {
        if (message.event)
            return dispatchEvents([ message ], target);
        var waiting = pending.get(message.id);
        if (!waiting)
            return;
        pending.delete(message.id);
        if (message.error)
            waiting.reject(errorOf(message));
        else
            waiting.resolve(message);
    };
    this.closed = function(event) {
        failure =
            event.code === 1009
                ? QuillbayError("too-large", "a message was larger than quillbay-bridge accepts")
                : QuillbayError("closed", "the connection to quillbay-bridge closed" +
                                              (event.code === 1006 ? " (the bridge stopped)" : ""));
        pending.forEach(function(waiting) { waiting.reject(failure); });
        pending.clear();
        owner.objects.clear();
    };
    this.api = {
        create : function(name) {
            var message = /^\s*clsid:/i.test(name) ? {op : "create", classId : String(name).trim()}
                                                   : {op : "create", progId : String(name)};
            return request(message).then(function(
                reply) { return decode(reply.value, owner, makeAsyncObject); });
        },
        release : function(object) {
            var known = objectIds.get(object);
            if (!known || known.owner !== owner)
                return Promise.reject(
                    QuillbayError("no-object", "not an object of this connection"));
            owner.objects.delete(known.id);
            return request({op : "release", object : known.id}).then(function() {});
        },
        printers : function() {
            return request({op : "printers"}).then(function(reply) { return reply.value; });
        },
        usePrinter : function(name) {
            return request({op : "set", printer : name === undefined ? null : name})
                .then(function(reply) { return reply.value; });
        },
        preview : function(on) {
            return request({op : "set", preview : on !== false}).then(function(
                reply) { return reply.value; });
        },
        watchPrinters : function(names) {
            return request({op : "watch", printers : names || []}).then(function(
                reply) { return reply.value; });
        },
        useCopies : function(copies) {
            return request({op : "set", copies : copies}).then(function(reply) {
                return reply.value;
            });
        },
        printRaw : function(printer, data) {
            var message = {op : "raw", printer : printer === undefined ? null : printer};
            if (typeof data === "string")
                message.data = data;
            else
                message.base64 = toBase64(data);
            return request(message).then(function(reply) { return reply.value; });
        },
        printDocument : function(data, options) {
            options = options || {};
            return base64Of(data).then(function(text) {
                var message = {op : "document", base64 : text};
                ["printer", "format", "fit"].forEach(function(name) {
                    if (options[name] !== undefined && options[name] !== null)
                        message[name] = options[name];
                });
                message.title = options.title !== undefined ? options.title : document.title;
                return request(message);
            }).then(function(reply) { return reply.value; });
        },
        close : function() { socket.close(); },
        addEventListener : target.addEventListener.bind(target),
        removeEventListener : target.removeEventListener.bind(target)
    };
}

function connect(options) {
    return probe(options).then(function(status) {
        if (status.state !== "ready")
            throw QuillbayError(status.code || status.state, status.message);
        return new Promise(function(resolve, reject) {
            var socket = new WebSocket(bridge.replace(/^http/, "ws") + "/session");
            var connection = new Connection(socket);
            var opened = false;
            socket.onmessage = function(event) {
                var message = JSON.parse(event.data);
                if (!opened) {
                    opened = true;
                    return message.error ? reject(errorOf(message)) : resolve(connection.api);
                }
                connection.receive(message);
            };
            socket.onclose = function(event) {
                connection.closed(event);
                if (!opened) {
                    opened = true;
                    reject(unreachable("the WebSocket closed"));
                }
            };
        });
    });
}

// ---- Setting up ---------------------------------------------------------

window.Quillbay = {
    protocol : PROTOCOL,
    bridge : bridge,
    check : check,
    connect : connect,
    QuillbayError : QuillbayError,
    addEventListener : events.addEventListener.bind(events),
    removeEventListener : events.removeEventListener.bind(events),
    // The first contact is asynchronous, so a browser that asks the user
    // before a page reaches local addresses can ask before any
    // synchronous call of the page.
    ready : check()
};

if (typeof window.ActiveXObject === "undefined") {
    window.ActiveXObject = ActiveXObject;
    bindObjectTags(document.documentElement);
    new MutationObserver(function(records) {
        records.forEach(function(
            record) { Array.prototype.forEach.call(record.addedNodes, bindObjectTags); });
    }).observe(document, {childList : true, subtree : true});
}
})(window, document);
