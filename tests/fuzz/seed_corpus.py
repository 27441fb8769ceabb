#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora from the stand-in marketplace's own answers and pages.

    tests/fuzz/seed_corpus.py build/tools/marketplace-sim/marketplace-sim tests/fuzz/corpus

Two stand-ins run side by side, one with --hostile-values. Each corpus gets a handful of small
files: offer.get answers (xml_document, package_row), their descriptions (description),
listing pages of the four templates (listing_scanner), a list file (list_file) and INI files
(ini_file).
"""
import hashlib
import hmac
import os
import re
import subprocess
import sys
import tempfile
import urllib.request

FIELDS = ("offerId,isPrivate,privateProperties,detailsUrl,type,tradeType,postCategryId,"
          "offerStatus,memberId,subject,details,qualityLevel,imageList,productFeatureList,"
          "isOfferSupportOnlineTrade,tradingType,isSupportMix,unit,priceUnit,amount,amountOnSale,"
          "saledCount,retailPrice,unitPrice,priceRanges,termOfferProcess,freightTemplateId,"
          "sendGoodsId,productUnitWeight,freightType,isSkuOffer,isSkuTradeSupported,skuArray,"
          "gmtCreate,gmtModified,gmtLastRepost,gmtApproved,gmtExpire,skuPics")


def get(port, host, target):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{target}",
                                     headers={"Host": f"{host}.localhost:{port}"})
    try:
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.read()
    except urllib.error.HTTPError as error:
        return error.read()


def offer_answer(port, appkey, secret, offer_id):
    params = {"_aop_responseFormat": "", "offerId": offer_id, "returnFields": FIELDS}
    base = f"param2/1/cn.alibaba.open/offer.get/{appkey}" + "".join(
        name + params[name] for name in sorted(params))
    signature = hmac.new(secret.encode(), base.encode(), hashlib.sha1).hexdigest().upper()
    return get(port, "gw", f"/openapi/param2/1/cn.alibaba.open/offer.get/{appkey}?offerId="
               f"{offer_id}&returnFields={FIELDS}&_aop_responseFormat&_aop_signature={signature}")


def save(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def main(sim, corpus):
    work = tempfile.mkdtemp()
    for label, extra in (("plain", []), ("hostile", ["--hostile-values"])):
        site = os.path.join(work, f"site-{label}.ini")
        listing = os.path.join(work, f"list-{label}.txt")
        process = subprocess.Popen(
            [sim, "--port", "0", "--shops", "4", "--products-per-shop", "6", "--items-per-page",
             "3", "--site-ini", site, "--list-file", listing, *extra],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            port = int(process.stdout.readline())
            catalog = get(port, "any", "/__catalog").decode()
            appkey, secret = re.search(r"^key\t(\S+)\t(\S+)$", catalog, re.M).groups()
            offers = re.findall(r"^product\t\d+\t(\d+)\t", catalog, re.M)
            for n, offer_id in enumerate(offers[:4]):
                answer = offer_answer(port, appkey, secret, offer_id)
                save(f"{corpus}/xml_document", f"{label}-offer-{n}.xml", answer)
                save(f"{corpus}/package_row", f"{label}-offer-{n}.xml", answer)
                details = re.search(rb"<details>(.*?)</details>", answer, re.S)
                if details:
                    save(f"{corpus}/description", f"{label}-details-{n}.html", details.group(1))
            save(f"{corpus}/xml_document", f"{label}-error.xml",
                 offer_answer(port, appkey, "wrong", offers[0]))
            save(f"{corpus}/xml_document", f"{label}-logo.xml", get(port, "config", "/logo.xml"))
            for shop in range(1, 5):
                save(f"{corpus}/listing_scanner", f"{label}-shop{shop}.html",
                     get(port, f"shop{shop}", "/page/offerlist.htm?&pageNum=2"))
            with open(listing, "rb") as rows:
                save(f"{corpus}/list_file", f"{label}-list.txt", rows.read())
            with open(site, "rb") as ini:
                save(f"{corpus}/ini_file", f"{label}-site.ini", ini.read())
        finally:
            process.terminate()
            process.wait()
    save(f"{corpus}/ini_file", "options.ini",
         "[DL_PIC]\r\ndownload=真\r\ntaobao_only=假\r\nfall=重新下载 仍失败删除\r\n"
         "[SAVE]\r\ntype=5\r\n".encode("gbk"))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
