// A page's script in TypeScript against the bridge client's declarations,
// compiled by the tests with --strict: it must compile, and each line
// marked @ts-expect-error must be refused.

async function printLabel(): Promise<string> {
    let status: Quillbay.BridgeStatus = await Quillbay.check({ minVersion: "0.1" });
    if (status.state === "prompt" && status.answered)
        status = await status.answered;
    if (status.state === "blocked-by-browser")
        return "allow local network access for this site: " + status.message;
    // @ts-expect-error no such state
    if (status.state === "blocked")
        return "";
    if (status.state !== "ready")
        return status.message ?? status.state;
    const bridge = await Quillbay.connect();
    bridge.addEventListener("job", (event) => console.log(event.detail.stage, event.detail.where));
    const doc = await bridge.create("Quillbay.QuillDoc");
    await doc.SetPaperSize(1000, 1500);
    const opened: number = await doc.SetPrinter("1");
    const serial: string = await doc.BeginCharOf("1", 6, "0");
    await doc.PrintBarCode(3, "2026" + serial, 5, 30, 0, 0, 60, 18);
    // @ts-expect-error SetPrinter takes a string
    await doc.SetPrinter(1);
    // @ts-expect-error the object has no such method
    await doc.NoSuchMethod();
    // @ts-expect-error a method of the asynchronous API gives a Promise
    const notYet: string = doc.GetDBResult();
    await bridge.release(doc);
    bridge.close();
    return serial + opened + notYet;
}

function legacyPage(): number {
    const doc = new ActiveXObject("Quillbay.QuillDoc");
    doc.SetPaperSize(2100, 2970);
    // @ts-expect-error the synchronous object gives values, not Promises
    const wrong: Promise<number> = doc.SetPrinter("1");
    const url: string = doc.GetBarCodeImg(2, "SO-1");
    Quillbay.addEventListener("job", (event) => console.log(event.detail.pages, url, wrong));
    return doc.GetCode(0, 9);
}

// The printers, a label printer chosen by name, a preview, then printing.
async function previewThenPrint(): Promise<string> {
    const bridge = await Quillbay.connect();
    const printers: Quillbay.Printer[] = await bridge.printers();
    const label = printers.find((p) => p.name.includes("label") && p.state !== "stopped");
    const a6 = label?.papers.find((paper) => paper.name === "iso_a6_105x148mm");
    const settings: Quillbay.Settings = await bridge.usePrinter(label ? label.name : null);
    await bridge.watchPrinters(label ? [label.name] : []);
    bridge.addEventListener("printer", (e) => console.log(e.detail.printer, e.detail.stateReasons));
    bridge.addEventListener("job", (e) => console.log(e.detail.state, e.detail.preview?.png));
    await bridge.preview(true);
    const doc = await bridge.create("Quillbay.QuillDoc");
    await doc.SetPaperSize(a6 ? a6.width * 10 : 1050, a6 ? a6.height * 10 : 1480);
    await doc.SetPrinter("1");
    await doc.PrintText(5, 5, "preview", 0, 0, 12);
    await doc.SetPrinter("0");
    await bridge.preview(false);
    // @ts-expect-error a printer is named by a string
    await bridge.usePrinter(3);
    // @ts-expect-error no such printer state
    if (label?.state === "offline") return "";
    return String(settings.printer) + printers.length;
}

// A label printer's own commands: three copies of a ZPL label, then a
// receipt printer's ESC/POS bytes.
async function rawCommands(): Promise<number> {
    const bridge = await Quillbay.connect();
    const label = (await bridge.printers()).find((p) => p.copies.max >= 3 && p.custom);
    const settings: Quillbay.Settings = await bridge.useCopies(3);
    const job: Quillbay.RawJob = await bridge.printRaw(label ? label.name : null,
                                                        "^XA^FO50,50^FD你好^FS^XZ");
    await bridge.printRaw("receipts", new Uint8Array([0x1b, 0x40, 0x0a]));
    // @ts-expect-error the bytes are text or bytes
    await bridge.printRaw("receipts", 42);
    return job.job + settings.copies + (label?.custom?.max.width ?? 0) + (job.printerJob ?? 0);
}

// A carrier's label the page fetched, printed as it is.
async function carrierLabel(): Promise<number> {
    const bridge = await Quillbay.connect();
    const label: Blob = await (await fetch("/labels/1Z42.pdf")).blob();
    const job: Quillbay.DocumentJob = await bridge.printDocument(label, { printer: "zpl203", title: "1Z42" });
    await bridge.printDocument("JVBERi0xLjQK", { format: "pdf", fit: "fit" });
    // @ts-expect-error fit is "actual" or "fit"
    await bridge.printDocument(new Uint8Array([0x89]), { fit: "stretch" });
    return job.pages + (job.cupsJob ?? 0);
}

previewThenPrint().then(console.log);
rawCommands().then(console.log);
carrierLabel().then(console.log);
printLabel().then(console.log, (error: Quillbay.QuillbayError) => console.log(error.code, error.number));
legacyPage();
