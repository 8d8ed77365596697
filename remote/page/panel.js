"use strict";

// The instrument's page: a client of the remote methods like any other. It reads the limits
// once, polls getState and the events since the last it has seen in one multicall, and sends the
// operator's requests through the setters; it keeps no state of the instrument of its own, so
// that every browser shows what the program holds.

const PollInterval = 250;
const CallTimeout = 4000;
const RetryInterval = 1000;
// Events shown at most; the program keeps more, for whoever asks.
const ShownEvents = 200;

// --- XML-RPC over fetch() ---------------------------------------------------------------------

class Double {
  constructor(value) {
    this.value = value;
  }
}

function escapeXml(text) {
  return String(text).replace(/[<>&]/g, (c) => ({ "<": "&lt;", ">": "&gt;", "&": "&amp;" })[c]);
}

function encodeValue(value) {
  if (value instanceof Double) {
    return `<double>${String(value.value)}</double>`;
  }
  if (Number.isInteger(value)) {
    return `<int>${value}</int>`;
  }
  if (typeof value === "boolean") {
    return `<boolean>${value ? 1 : 0}</boolean>`;
  }
  if (Array.isArray(value)) {
    return `<array><data>${value.map((v) => `<value>${encodeValue(v)}</value>`).join("")}</data></array>`;
  }
  if (typeof value === "object") {
    const members = Object.entries(value).map(([name, v]) =>
      `<member><name>${escapeXml(name)}</name><value>${encodeValue(v)}</value></member>`);
    return `<struct>${members.join("")}</struct>`;
  }
  return `<string>${escapeXml(value)}</string>`;
}

function encodeCall(method, params) {
  const values = params.map((p) => `<param><value>${encodeValue(p)}</value></param>`).join("");
  return `<?xml version="1.0"?><methodCall><methodName>${escapeXml(method)}</methodName>`
    + `<params>${values}</params></methodCall>`;
}

function childElements(node) {
  return Array.from(node.childNodes).filter((n) => n.nodeType === Node.ELEMENT_NODE);
}

function decodeValue(valueElement) {
  const typed = childElements(valueElement)[0];
  // A value without a type element is a string.
  if (!typed) {
    return valueElement.textContent;
  }
  const text = typed.textContent;
  switch (typed.localName) {
  case "int":
  case "i4":
  case "i8":
    return parseInt(text, 10);
  case "double":
    return parseFloat(text);
  case "boolean":
    return text.trim() === "1";
  case "struct": {
    const struct = {};
    for (const member of childElements(typed)) {
      const [name, value] = ["name", "value"].map((tag) => childElements(member).find((e) => e.localName === tag));
      if (name && value) {
        struct[name.textContent] = decodeValue(value);
      }
    }
    return struct;
  }
  case "array": {
    const data = childElements(typed).find((e) => e.localName === "data");
    return data ? childElements(data).map(decodeValue) : [];
  }
  case "nil":
    return null;
  default:
    return text;
  }
}

function decodeResponse(text) {
  const document = new DOMParser().parseFromString(text, "text/xml");
  if (document.getElementsByTagName("parsererror").length) {
    throw new Error("the answer is not XML");
  }
  const fault = document.querySelector("methodResponse > fault > value");
  if (fault) {
    const { faultCode, faultString } = decodeValue(fault);
    throw new Error(`fault ${faultCode}: ${faultString}`);
  }
  const value = document.querySelector("methodResponse > params > param > value");
  if (!value) {
    throw new Error("the answer holds no value");
  }
  return decodeValue(value);
}

async function call(method, ...params) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), CallTimeout);
  try {
    const reply = await fetch("/RPC2", {
      method: "POST",
      headers: { "Content-Type": "text/xml" },
      body: encodeCall(method, params),
      cache: "no-store",
      signal: abort.signal,
    });
    if (!reply.ok) {
      throw new Error(`HTTP ${reply.status}: ${(await reply.text()).trim()}`);
    }
    return decodeResponse(await reply.text());
  } finally {
    clearTimeout(timer);
  }
}

// --- What the page shows ----------------------------------------------------------------------

const $ = (id) => document.getElementById(id);

// As the desktop panel's field shows it: two decimals, cut off rather than rounded, from the
// number's own digits (546.079 is 546.07 there too).
function twoDecimals(value) {
  const [whole, fraction = ""] = String(value).split(".");
  return `${whole}.${(fraction + "00").slice(0, 2)}`;
}

function setText(element, text) {
  if (element.textContent !== text) {
    element.textContent = text;
  }
}

// The colours of the status follow the state's name; what may be pressed follows the program's
// own answer in "accepts", so that the page offers exactly what the window offers.
function lookOf(state) {
  switch (state.state) {
  case "reading back":
  case "ready":
    return "ready";
  case "busy":
    return "busy";
  case "no answer":
  case "port lost":
  case "cannot open":
    return "fault";
  case "waking up":
    return "waking";
  default:
    return "closed";
  }
}

const NothingAccepted = { connect: false, close: false, requests: false };

let limits = null;
let current = null;

function enable(accepts) {
  $("connect").disabled = !accepts.connect;
  $("close").disabled = !accepts.close;
  for (const form of document.querySelectorAll("form.request")) {
    for (const control of form.querySelectorAll("input, select, button")) {
      control.disabled = !accepts.requests || !limits;
    }
  }
}

function showState(state) {
  current = state;
  $("status").dataset.look = lookOf(state);
  setText($("status-text"), state.text);
  setText($("state"), state.state === state.text ? "" : state.state);
  const reason = $("reason");
  setText(reason, state.reason);
  reason.hidden = !state.reason;
  $("motion").hidden = state.state !== "busy";
  setText($("wavelength"), twoDecimals(state.wavelength));
  setText($("position"), String(state.position));
  setText($("inSlit"), String(state.inSlit));
  setText($("outSlit"), String(state.outSlit));
  setText($("grating"), `G${state.grating}`);
  enable(state.accepts);
}

function showOffline(why) {
  current = null;
  $("status").dataset.look = "offline";
  setText($("status-text"), "no connection to the program");
  setText($("state"), "");
  setText($("reason"), why);
  $("reason").hidden = false;
  $("motion").hidden = true;
  enable(NothingAccepted);
}

// --- Events -----------------------------------------------------------------------------------

// The newest event shown; 0 when the list is to be read afresh.
let lastEvent = 0;

function eventItem() {
  const item = document.createElement("li");
  item.className = "event";
  const time = document.createElement("time");
  const origin = document.createElement("span");
  origin.className = "origin";
  const text = document.createElement("span");
  text.className = "text";
  const count = document.createElement("span");
  count.className = "count";
  item.append(time, " ", origin, " ", text, " ", count);
  return item;
}

// What makes a repetition: the same kind, origin and text.
function eventKey(event) {
  return `${event.kind}\n${event.origin}\n${event.text}`;
}

function fillEvent(item, event) {
  const [time, origin, text, count] = item.querySelectorAll("time, .origin, .text, .count");
  item.dataset.kind = event.kind;
  item.dataset.key = eventKey(event);
  time.dateTime = event.time;
  setText(time, new Date(event.time).toLocaleTimeString());
  setText(origin, event.origin);
  setText(text, event.text);
  setText(count, event.count > 1 ? `${event.count} times` : "");
}

// Newest first; a repetition of the newest updates it, as the program folds it.
function showEvents(events) {
  const list = $("events");
  if (lastEvent === 0) {
    list.replaceChildren();
  }
  for (const event of events) {
    const newest = list.firstElementChild;
    if (event.count > 1 && newest && newest.dataset.key === eventKey(event)) {
      fillEvent(newest, event);
    } else {
      const item = eventItem();
      fillEvent(item, event);
      list.prepend(item);
    }
    lastEvent = Math.max(lastEvent, event.id);
  }
  while (list.childElementCount > ShownEvents) {
    list.lastElementChild.remove();
  }
}

// One call a poll: the state and the events since the last one seen.
async function stateAndEvents() {
  const [state, events] = await call("system.multicall", [
    { methodName: "getState", params: [] },
    { methodName: "getEvents", params: [lastEvent] },
  ]);
  if (!Array.isArray(state) || !Array.isArray(events)) {
    const fault = Array.isArray(state) ? events : state;
    throw new Error(`fault ${fault.faultCode}: ${fault.faultString}`);
  }
  return [state[0], events[0]];
}

async function poll() {
  try {
    const [state, events] = await stateAndEvents();
    showState(state);
    showEvents(events);
  } catch (error) {
    showOffline(error.name === "AbortError" ? "the program does not answer" : error.message);
    // The program may come back started anew, its events numbered from 1 again.
    lastEvent = 0;
  }
  setTimeout(poll, PollInterval);
}

// --- Requests ---------------------------------------------------------------------------------

function limitText(limit) {
  const unit = limit.unit ? ` ${limit.unit}` : "";
  return `${limit.minimum} to ${limit.maximum}${unit}`;
}

function describeLimits() {
  for (const form of document.querySelectorAll("form.request")) {
    const limit = limits[form.dataset.limit];
    const hint = form.querySelector(".hint");
    const decimals = limit.decimals > 0 ? `, at most ${limit.decimals} decimals` : ", whole";
    hint.textContent = `${limitText(limit)}${decimals}`;
    const select = form.querySelector("select");
    if (select) {
      hint.textContent = `G${limit.minimum} to G${limit.maximum}`;
      select.replaceChildren();
      for (let index = limit.minimum; index <= limit.maximum; ++index) {
        select.append(new Option(`G${index}`, String(index)));
      }
    }
  }
}

// The number typed, in the instrument's notation, or why it is not taken.
function readValue(text, limit, type) {
  const typed = text.trim();
  const pattern = limit.decimals > 0 ? /^[+-]?(\d+(\.\d*)?|\.\d+)$/ : /^[+-]?\d+$/;
  if (!pattern.test(typed)) {
    return { refused: limit.decimals > 0 ? "type a number, such as 546.07" : "type a whole number" };
  }
  const decimals = (typed.split(".")[1] || "").length;
  if (decimals > limit.decimals) {
    return { refused: `at most ${limit.decimals} decimals` };
  }
  const value = Number(typed);
  const unit = limit.unit ? ` ${limit.unit}` : "";
  if (!(value >= limit.minimum && value <= limit.maximum)) {
    return { refused: `${typed}${unit} is outside ${limitText(limit)}: ${limit.reason}` };
  }
  return { value: type === "double" ? new Double(value) : value };
}

function showError(form, text) {
  const error = form.querySelector(".error");
  const control = form.querySelector("input, select");
  error.textContent = text;
  error.hidden = !text;
  control.setAttribute("aria-invalid", text ? "true" : "false");
}

async function submit(form) {
  const control = form.querySelector("input, select");
  const read = readValue(control.value, limits[form.dataset.limit], form.dataset.type);
  if (read.refused) {
    showError(form, read.refused);
    control.focus();
    return;
  }
  showError(form, "");
  // The program answers with an empty text when it takes the request, else with why not: another
  // client may have started a move a moment earlier.
  try {
    showError(form, await call(form.dataset.method, read.value));
  } catch (error) {
    showError(form, `not sent: ${error.message}`);
  }
}

async function loadLimits() {
  try {
    limits = await call("getLimits");
    describeLimits();
    if (current) {
      enable(current.accepts);
    }
  } catch (error) {
    setTimeout(loadLimits, RetryInterval);
  }
}

function start() {
  $("address").textContent = location.host;
  for (const form of document.querySelectorAll("form.request")) {
    form.addEventListener("submit", (event) => {
      event.preventDefault();
      submit(form);
    });
    // An explanation stays until the value is changed.
    form.querySelector("input, select").addEventListener("input", () => showError(form, ""));
  }
  $("connect").addEventListener("click", () => call("connect").catch((error) => showOffline(error.message)));
  $("close").addEventListener("click", () => call("close").catch((error) => showOffline(error.message)));
  loadLimits();
  // Which build serves the page, for whoever reports a fault; the page works on without it.
  call("getVersion").then((version) => setText($("version"), version), () => {});
  poll();
}

// Node's test runner loads the page's own functions without a browser.
if (typeof module === "undefined") {
  start();
} else {
  module.exports = { Double, encodeCall, encodeValue, readValue, twoDecimals };
}
