// The shipping label of examples/sample-page.html, alone: one page, one job.
var quill = new ActiveXObject("Quillbay.QuillDoc");
var items = [["A-1001", "打印纸 A4 70g", "10 箱"], ["B-2002", "碳带 110mm", "4 卷"],
             ["C-3003", "标签纸 60x40", "20 卷"]];
quill.SetPaperSize(2100, 2970);
quill.SetPrinter("1");
quill.DrawLine(0, 0, 100, 0, 0, 0, 3, 0);
quill.SetFont("黑体", 1);
quill.PrintText(10, 8, "发货单  Shipping label", 5, 0, 22);
quill.SetFont("宋体", 0);
quill.PrintText(10, 24, "订单号：SO-2026-12-0815", 5, 0, 12);
quill.PrintText(10, 32, "收货人：张三    电话：13800000000", 5, 0, 12);
quill.PrintText(10, 40, "地址：北京市海淀区中关村大街 1 号", 5, 0, 12);
quill.DrawLine(15, 50, 195, 50, 0, 0, 4, 0);
for (var i = 0, y = 56; i < items.length; i++, y += 9) {
    quill.PrintText(15, y, items[i][0], 0, 0, 11);
    quill.PrintText(45, y, items[i][1], 0, 0, 11);
    quill.PrintText(130, y, items[i][2], 0, 0, 11);
    quill.DrawLine(15, y + 7, 195, y + 7, 0, 0, 1, 0x808080);
}
quill.SetFont("", -16776961);
quill.PrintText(15, y + 4, "易碎物品 请轻放  FRAGILE", 0, 0, 14);
quill.SetPrinter("0");
