// quillbay.d.ts: the declarations of quillbay.js, the page's side of
// quillbay-bridge. IQuillDoc.d.ts (made from the object's interface
// definition) declares the object's methods; both are served by the bridge.
/// <reference path="IQuillDoc.d.ts" />

declare namespace Quillbay {
    /** An object's methods as the asynchronous API gives them: each returns a Promise. */
    type Async<T> = {
        [K in keyof T]: T[K] extends (...args: infer A) => infer R ? (...args: A) => Promise<R> : never;
    };

    /** A member of an object, from its type information. */
    interface MemberInfo {
        name: string;
        dispid: number;
        /** The [in] parameters, in order. */
        params: string[];
        /** Whether the method gives a value back (its [retval]). */
        returns: boolean;
    }

    interface ClassInfo {
        progId: string;
        classId: string;
        methods: MemberInfo[];
    }

    /**
     * What check() found: "absent" (the bridge is not running or not
     * installed), "refused" (the user has not allowed this site), "too-old"
     * (older than the client or than minVersion), "error", "ready";
     * "blocked-by-browser" (the browser does not let this site reach the
     * bridge on this computer: local network access), or "prompt" (the
     * browser is asking the user; `answered` gives the status once they
     * have answered).
     */
    interface BridgeStatus {
        state: "ready" | "too-old" | "absent" | "refused" | "error" | "blocked-by-browser" | "prompt";
        version?: string;
        protocol?: number;
        classes?: ClassInfo[];
        code?: string;
        message?: string;
        answered?: Promise<BridgeStatus>;
    }

    /**
     * The errors the client throws: `code` is the bridge's ("origin-refused",
     * "call-failed"...) or the client's ("unreachable", "closed",
     * "blocked-by-browser" when the browser keeps the site from the bridge);
     * a failing member's HRESULT is in `number`, as the object's errors
     * always carried it.
     */
    interface QuillbayError extends Error {
        code: string;
        number?: number;
        hresult?: number;
    }

    /** A print job's progress, as the printing layer reports it. */
    interface JobEvent {
        event: "job";
        /** "state": the CUPS job's own state changed (see `state`). */
        stage: "started" | "page" | "finished" | "failed" | "aborted" | "state";
        job: number;
        title: string;
        printer: string;
        pages: number;
        /** Where a finished job went: the PDF written, or the queue and job;
         *  for a failed one, what became of it. */
        where?: string;
        /** Why a failed job did not print. */
        reason?: string;
        /** The page of a failed job, kept unprinted for printing again. */
        kept?: string;
        /** The CUPS job a job sent to a CUPS printer became. */
        cupsJob?: number;
        /** The printer's own job, for raw commands sent to the printer itself
         *  (a driverless label printer): its states come as stage "state"
         *  events with `state` and the printer's `reason`. */
        printerJob?: number;
        /** stage "state": the CUPS job's state, its reasons and the printer's message. */
        state?: JobState;
        stateReasons?: string[];
        message?: string;
        /** A previewed job ("finished" while preview(true)): the bridge's
         *  addresses of its PDF (what printing would send) and of a PNG of its
         *  first page, valid while the connection lasts. */
        preview?: { pdf: string; png?: string };
    }

    /** CUPS' own names for a job's states. */
    type JobState = "pending" | "pending-held" | "processing" | "processing-stopped" | "completed" | "canceled" | "aborted";
    type PrinterState = "idle" | "processing" | "stopped";

    /** A printer's state as watchPrinters() reports it, when it changes. */
    interface PrinterEvent {
        event: "printer";
        printer: string;
        state: PrinterState;
        /** IPP keywords: "media-empty", "offline", "paused"... */
        stateReasons: string[];
        message?: string;
    }

    /** Lengths in millimetres. */
    interface Paper {
        /** The PWG name, such as "iso_a4_210x297mm". */
        name: string;
        width: number;
        height: number;
        margins: { left: number; top: number; right: number; bottom: number };
        /** The printer's default paper. */
        default: boolean;
        /** Loaded in the printer now. */
        loaded: boolean;
    }

    /** A printer the account can print to, as it describes itself. */
    interface Printer {
        name: string;
        /** The printer jobs go to unless the page chooses another. */
        default: boolean;
        state: PrinterState;
        stateReasons: string[];
        message?: string;
        location: string;
        makeAndModel: string;
        papers: Paper[];
        /** Dots per inch. */
        resolutions: { x: number; y: number }[];
        color: boolean;
        duplex: boolean;
        /** The copies a job may ask for. */
        copies: { min: number; max: number };
        /** The custom (or roll) sizes it takes, when it takes any. */
        custom?: { min: { width: number; height: number }; max: { width: number; height: number } };
    }

    /** A raw job as printRaw() answers it. */
    interface RawJob {
        job: number;
        printer: string;
        /** The format the bytes went in: "application/vnd.cups-raw" through
         *  CUPS, or the printer's own language ("application/vnd.zebra-zpl"). */
        format: string;
        where: string;
        cupsJob?: number;
        printerJob?: number;
    }

    /** How printDocument() prints. */
    interface DocumentOptions {
        /** The printer; absent or null: the connection's, else the default. */
        printer?: string | null;
        /** What the bytes are; absent: known from the bytes. */
        format?: "pdf" | "png" | "jpeg";
        /** "actual" (the default): at 100 % on the printer's paper of the
         *  document's size; "fit": scaled to the printer's paper. */
        fit?: "actual" | "fit";
        /** The job's name; absent: the page's title. */
        title?: string;
    }

    /** A document's job as printDocument() answers it. */
    interface DocumentJob {
        job: number;
        printer: string;
        format: "pdf" | "png" | "jpeg";
        pages: number;
        where: string;
        cupsJob?: number;
    }

    /** A connection's own settings, as set() answers them. */
    interface Settings {
        /** The printer the connection's jobs go to; null: the default. */
        printer: string | null;
        preview: boolean;
        /** The copies of each job. */
        copies: number;
    }

    interface CheckOptions {
        /** The oldest bridge version the page works with, such as "1.0". */
        minVersion?: string;
    }

    /** A session on a WebSocket: its objects live until it closes. */
    interface Connection {
        create(progId: "Quillbay.QuillDoc" | "Quillbay.QuillDoc.1"): Promise<Async<IQuillDoc>>;
        /** By ProgID, or by class ID as "clsid:XXXXXXXX-...". */
        create(progIdOrClassId: string): Promise<any>;
        release(object: object): Promise<void>;
        /** The printers the account can print to, the built-in PDF printer first. */
        printers(): Promise<Printer[]>;
        /** Sends every job of the connection's objects to the printer named;
         *  null goes back to the default. Rejects ("no-printer") for a name
         *  no printer has, changing nothing. */
        usePrinter(name: string | null): Promise<Settings>;
        /** Renders the connection's jobs rather than printing them (true), or
         *  prints them again (false). */
        preview(on: boolean): Promise<Settings>;
        /** Reports the states of these printers as "printer" events, their
         *  states now first; an empty list stops. Rejects ("no-printer") for
         *  a name CUPS does not know. */
        watchPrinters(names: string[]): Promise<string[]>;
        /** Asks this many copies (1 to 999) of each later job. */
        useCopies(copies: number): Promise<Settings>;
        /** Sends a printer's own commands (ZPL, EPL, TSPL, ESC/POS) unchanged
         *  as one job: text as UTF-8, bytes as they are; null for the
         *  connection's printer. Rejects with "no-printer", "bad-request" (no
         *  bytes), "too-large", "document-printer" (the printer would print
         *  them as a document), "previewing" or "not-printed", sending nothing. */
        printRaw(printer: string | null, data: string | Uint8Array | ArrayBuffer): Promise<RawJob>;
        /** Prints a PDF, PNG or JPEG the page has (a carrier's label, a
         *  server's invoice) as it is, as one job with the connection's
         *  copies; a string is the document as base64. Rejects with
         *  "no-printer", "bad-document" (no PDF, PNG or JPEG, another format
         *  than the one named, a broken or encrypted PDF), "raw-printer" (a
         *  queue of printer commands only), "too-large" or "not-printed". */
        printDocument(data: string | Uint8Array | ArrayBuffer | Blob,
                      options?: DocumentOptions): Promise<DocumentJob>;
        close(): void;
        addEventListener(type: "job", listener: (event: CustomEvent<JobEvent>) => void): void;
        addEventListener(type: "printer", listener: (event: CustomEvent<PrinterEvent>) => void): void;
        removeEventListener(type: "job", listener: (event: CustomEvent<JobEvent>) => void): void;
        removeEventListener(type: "printer", listener: (event: CustomEvent<PrinterEvent>) => void): void;
    }

    /** The protocol this client speaks. */
    const protocol: number;
    /** The bridge's address, such as "http://127.0.0.1:18412". */
    const bridge: string;
    /** The first check, made when the script loads. */
    const ready: Promise<BridgeStatus>;

    function check(options?: CheckOptions): Promise<BridgeStatus>;
    /** Opens a session; rejects with a QuillbayError unless the bridge is ready. */
    function connect(options?: CheckOptions): Promise<Connection>;
    function QuillbayError(code: string, message: string, hresult?: number): QuillbayError;
    function addEventListener(type: "job", listener: (event: CustomEvent<JobEvent>) => void): void;
    function removeEventListener(type: "job", listener: (event: CustomEvent<JobEvent>) => void): void;
}

/**
 * Defined by the client where the browser has none: creates an object by
 * ProgID, called synchronously, as pages written for the object expect.
 */
declare var ActiveXObject: {
    new (progId: "Quillbay.QuillDoc" | "Quillbay.QuillDoc.1"): IQuillDoc;
    new (progId: string): any;
};
