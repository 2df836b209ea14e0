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
        stage: "started" | "page" | "finished" | "failed" | "aborted";
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
        close(): void;
        addEventListener(type: "job", listener: (event: CustomEvent<JobEvent>) => void): void;
        removeEventListener(type: "job", listener: (event: CustomEvent<JobEvent>) => void): void;
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
