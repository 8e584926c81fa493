#!/usr/bin/python3
"""Writes the encoding fixtures: master.csv (UTF-8) holds rows of Chinese, Japanese, Korean,
Cyrillic, Western, Central European, Greek, Turkish, Hebrew, Arabic, Baltic and Vietnamese text;
each <ENCODING>.csv is the header and the rows of the scripts a file in that encoding holds,
converted with iconv (rows iconv cannot convert to that encoding are left out).

    python3 tests/data/csv/encodings/make_fixtures.py
"""
import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))

ROWS = [
    ("zh-Hans", "王伟", "北京", "客户资料已经核对；下月继续跟进"),
    ("zh-Hans", "李娜", "上海", "合同金额按季度结算；请财务部门确认"),
    ("zh-Hans", "张强", "广州", "请在月底之前提交报表"),
    ("zh-Hans", "刘芳", "深圳", "货物已发出；预计三天内到达"),
    ("zh-Hans", "陈静", "杭州", "发票抬头需要更改为公司全称"),
    ("zh-Hans", "杨洋", "成都", "会议改到星期四下午两点"),
    ("zh-Hant", "陳志明", "臺北", "資料已經核對；請於下週回覆"),
    ("zh-Hant", "林美玲", "高雄", "訂單數量與發票金額不符"),
    ("zh-Hant", "黃建國", "臺中", "客戶要求提前交貨"),
    ("zh-Hant", "吳淑芬", "新竹", "請確認付款條件與運送方式"),
    ("ja", "山田太郎", "東京", "ありがとうございます。よろしくお願いします"),
    ("ja", "佐藤花子", "大阪", "見積書を送付いたしました"),
    ("ja", "鈴木一郎", "名古屋", "納期は来週の金曜日です"),
    ("ja", "高橋美咲", "福岡", "カタログの最新版をお送りします"),
    ("ko", "김민준", "서울", "감사합니다. 다음 주에 연락드리겠습니다"),
    ("ko", "이서연", "부산", "견적서를 보내드렸습니다"),
    ("ko", "박지훈", "인천", "회의는 목요일 오후 두 시입니다"),
    ("ru", "Иван Петров", "Москва", "Счёт оплачен полностью"),
    ("ru", "Ольга Смирнова", "Санкт-Петербург", "Доставка в течение недели"),
    ("ru", "Сергей Кузнецов", "Новосибирск", "Просим подтвердить заказ"),
    ("ru", "Анна Попова", "Екатеринбург", "Договор подписан обеими сторонами"),
    ("western", "François Dubois", "Paris", "Facture réglée à l'échéance"),
    ("western", "Jürgen Müller", "München", "Lieferung erfolgt nächste Woche"),
    ("western", "José García", "Málaga", "Pedido enviado por correo el lunes"),
    ("western", "Søren Ødegård", "Århus", "Tak for ordren"),
    ("central", "Paweł Kowalski", "Łódź", "Zamówienie zostało wysłane"),
    ("central", "Jiří Dvořák", "Brno", "Faktura byla zaplacena včas"),
    ("central", "Zoltán Kovács", "Győr", "Köszönjük a megrendelést"),
    ("el", "Γιώργος Παπαδόπουλος", "Αθήνα", "Η παραγγελία εστάλη σήμερα"),
    ("el", "Μαρία Οικονόμου", "Θεσσαλονίκη", "Ευχαριστούμε για την πληρωμή"),
    ("tr", "Ayşe Yılmaz", "İstanbul", "Sipariş bugün kargoya verildi"),
    ("tr", "Mehmet Öztürk", "İzmir", "Fatura ödemesi alındı"),
    ("he", "דוד כהן", "ירושלים", "ההזמנה נשלחה היום"),
    ("he", "שרה לוי", "חיפה", "תודה על התשלום"),
    ("ar", "محمد علي", "القاهرة", "تم شحن الطلب اليوم"),
    ("ar", "فاطمة حسن", "دبي", "شكرا على الدفع"),
    ("baltic", "Jānis Bērziņš", "Rīga", "Pasūtījums ir nosūtīts"),
    ("baltic", "Rūta Kazlauskienė", "Vilnius", "Sąskaita apmokėta laiku"),
    ("vi", "Nguyễn Văn An", "Hà Nội", "Đơn hàng đã được gửi hôm nay"),
    ("vi", "Trần Thị Bình", "Đà Nẵng", "Cảm ơn quý khách đã thanh toán"),
]

ALL = sorted({script for script, *_ in ROWS})
# The scripts a file saved in each encoding holds: its own, and for the Chinese ones the
# Japanese, Cyrillic and Western words a Chinese user's file carries too.
FILES = {
    "GB18030": ALL,
    "GBK": ["zh-Hans", "zh-Hant", "ja", "ru", "western"],
    "BIG5": ["zh-Hant"],
    "SHIFT_JIS": ["ja", "ru"],
    "EUC-JP": ["ja"],
    "EUC-KR": ["ko"],
    "WINDOWS-1250": ["central", "western"],
    "WINDOWS-1251": ["ru"],
    "WINDOWS-1252": ["western"],
    "WINDOWS-1253": ["el"],
    "WINDOWS-1254": ["tr", "western"],
    "WINDOWS-1255": ["he"],
    "WINDOWS-1256": ["ar"],
    "WINDOWS-1257": ["baltic"],
    "WINDOWS-1258": ["vi"],
    "KOI8-R": ["ru"],
    "ISO-8859-1": ["western"],
    "ISO-8859-2": ["central"],
    "ISO-8859-5": ["ru"],
    "ISO-8859-7": ["el"],
    "ISO-8859-9": ["tr"],
    "ISO-8859-15": ["western"],
}


def line(number, row):
    return "%d,%s,%s,%s\n" % (number, row[1], row[2], row[3])


def iconv(text, encoding):
    process = subprocess.run(["iconv", "-f", "UTF-8", "-t", encoding], input=text.encode("utf-8"),
                             capture_output=True)
    return process.stdout if process.returncode == 0 else None


def main():
    header = "id,name,city,note\n"
    with open(os.path.join(HERE, "master.csv"), "w", encoding="utf-8", newline="") as master:
        master.write(header)
        for number, row in enumerate(ROWS, 1):
            master.write(line(number, row))
    for encoding, scripts in FILES.items():
        lines = [header]
        for number, row in enumerate(ROWS, 1):
            if row[0] in scripts and iconv(line(number, row), encoding) is not None:
                lines.append(line(number, row))
        data = iconv("".join(lines), encoding)
        with open(os.path.join(HERE, encoding + ".csv"), "wb") as out:
            out.write(data)
        print("%-13s %2d rows" % (encoding, len(lines) - 1))


if __name__ == "__main__":
    main()
