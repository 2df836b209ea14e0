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

printLabel().then(console.log, (error: Quillbay.QuillbayError) => console.log(error.code, error.number));
legacyPage();
