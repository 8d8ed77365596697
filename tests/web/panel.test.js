"use strict";
// The page's own functions under Node's test runner, without a browser or any package.
// Usage: node --test panel.test.js

const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");
const { Double, encodeCall, encodeValue, readValue, twoDecimals } = require(
  path.join(__dirname, "..", "..", "remote", "page", "panel.js"));

// As getLimits gives them.
const wavelength = { minimum: 250, maximum: 1300, decimals: 2, unit: "nm", reason: "the range" };
const move = { minimum: -10000, maximum: 10000, decimals: 0, unit: "steps", reason: "a quarter" };
const grating = { minimum: 0, maximum: 2, decimals: 0, unit: "", reason: "three gratings" };

test("a wavelength shows two decimals, cut off rather than rounded", () => {
  for (const [value, shown] of [[546.075, "546.07"], [546.079, "546.07"], [500, "500.00"],
    [546.1, "546.10"], [1234.575, "1234.57"]]) {
    assert.equal(twoDecimals(value), shown);
  }
});

test("a typed number is read in the instrument's notation, or refused saying why", () => {
  assert.deepEqual(readValue(" 546.07 ", wavelength, "double"), { value: new Double(546.07) });
  assert.deepEqual(readValue("250", wavelength, "double"), { value: new Double(250) });
  assert.deepEqual(readValue("+100", move, "int"), { value: 100 });
  for (const [typed, limit, refused] of [
    ["546.071", wavelength, "at most 2 decimals"],
    ["5.4607e2", wavelength, "type a number, such as 546.07"],
    ["546,07", wavelength, "type a number, such as 546.07"],
    ["1300.01", wavelength, "1300.01 nm is outside 250 to 1300 nm: the range"],
    ["1.5", move, "type a whole number"],
    ["-10001", move, "-10001 steps is outside -10000 to 10000 steps: a quarter"],
    ["3", grating, "3 is outside 0 to 2: three gratings"],
  ]) {
    assert.deepEqual(readValue(typed, limit, "int"), { refused }, typed);
  }
});

test("a call is written as XML-RPC, with a double marked as one and text escaped", () => {
  assert.equal(encodeCall("setWavelength", [new Double(546)]),
    "<?xml version=\"1.0\"?><methodCall><methodName>setWavelength</methodName><params>"
    + "<param><value><double>546</double></value></param></params></methodCall>");
  assert.equal(encodeValue([{ methodName: "getEvents", params: [3, true, "<&>"] }]),
    "<array><data><value><struct>"
    + "<member><name>methodName</name><value><string>getEvents</string></value></member>"
    + "<member><name>params</name><value><array><data><value><int>3</int></value>"
    + "<value><boolean>1</boolean></value><value><string>&lt;&amp;&gt;</string></value>"
    + "</data></array></value></member></struct></value></data></array>");
});
