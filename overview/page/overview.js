// The collector's overview: a tile per station, pushed over a WebSocket,
// each with its newest value, its state, its alarm and the last ten minutes
// as a sparkline (oldest at the left, newest at the right).
"use strict";

const token = new URLSearchParams(location.search).get("token") || "";
const tiles = new Map(); // station -> {element, seconds: Map(second -> [lowest, highest])}
let now = 0;

const stateWords = {
  online: "на связи",
  offline: "не на связи",
  silent: "нет данных от прибора",
  gone: "нет связи с прибором",
};

function text(element, value) {
  if (element.textContent !== value)
    element.textContent = value;
}

function newTile(name) {
  const element = document.createElement("div");
  element.className = "tile";
  element.dataset.name = name;
  element.innerHTML = '<div class="name"></div><div class="value">—<span class="unit"> °C</span></div>' +
    '<div class="state"></div><div class="alarm"></div><div class="run"></div>' +
    '<canvas data-points="0"></canvas><div class="span"><span>−10 мин</span><span>сейчас</span></div>' +
    '<ul class="runs"></ul>';
  text(element.querySelector(".name"), name);
  const tile = { element, seconds: new Map() };
  tiles.set(name, tile);
  // The tiles stay in the order of their names.
  const after = [...tiles.keys()].sort().find((other) => other > name);
  document.getElementById("tiles").insertBefore(element, after ? tiles.get(after).element : null);
  return tile;
}

function age(t) {
  const seconds = Math.max(0, Math.round((now - t) / 1000));
  if (seconds < 2)
    return "сейчас";
  if (seconds < 120)
    return seconds + " с назад";
  if (seconds < 7200)
    return Math.round(seconds / 60) + " мин назад";
  return new Date(t).toLocaleString("ru-RU");
}

function when(t) {
  const at = new Date(t);
  return now - t < 86400000 ? "в " + at.toLocaleTimeString("ru-RU") : at.toLocaleString("ru-RU");
}

// A frame holds the stations that changed: each is kept with its tile, and
// every tile is drawn again (ages move on without a change).
function merge(station) {
  const tile = tiles.get(station.name) || newTile(station.name);
  for (const [second, low, high] of station.spark)
    tile.seconds.set(second, [low, high]);
  tile.station = station;
}

function show(tile) {
  const station = tile.station;
  const element = tile.element;
  const oldest = Math.floor(now / 1000) - 599;
  for (const second of tile.seconds.keys())
    if (second < oldest)
      tile.seconds.delete(second);

  element.dataset.state = station.state;
  element.className = "tile " + station.state + (station.alarm && station.state !== "offline" ? " alarmed" : "");
  const value = element.querySelector(".value");
  if (value.firstChild.nodeType === Node.TEXT_NODE)
    text(value.firstChild, station.c === null ? "—" : station.c.toFixed(1));
  const offline = station.state === "offline";
  let said = stateWords[station.state];
  if (station.t !== null)
    said += offline ? " · последнее значение " + when(station.t) : " · " + age(station.t);
  text(element.querySelector(".state"), said);
  text(element.querySelector(".alarm"), station.alarm || "");
  let run = "запись не идёт";
  if (station.run !== null)
    run = (offline ? "запись шла с " : "идёт запись с ") + new Date(station.run).toLocaleString("ru-RU");
  text(element.querySelector(".run"), run);
  draw(tile, offline);
}

function draw(tile, grey) {
  const canvas = tile.element.querySelector("canvas");
  const W = canvas.width = canvas.clientWidth * (window.devicePixelRatio || 1);
  const H = canvas.height = canvas.clientHeight * (window.devicePixelRatio || 1);
  const g = canvas.getContext("2d");
  g.clearRect(0, 0, W, H);
  g.strokeStyle = "#ccc";
  g.strokeRect(0.5, 0.5, W - 1, H - 1);
  const seconds = [...tile.seconds.keys()].sort((a, b) => a - b);
  canvas.dataset.points = String(seconds.length);
  if (seconds.length === 0)
    return;
  let lo = Infinity, hi = -Infinity;
  for (const [low, high] of tile.seconds.values()) {
    lo = Math.min(lo, low);
    hi = Math.max(hi, high);
  }
  if (hi - lo < 1) {
    lo -= 0.5;
    hi += 0.5;
  }
  const newest = Math.floor(now / 1000);
  const xOf = (second) => W - 2 - ((newest - second) * (W - 4)) / 599;
  const yOf = (t) => H - 3 - ((t - lo) * (H - 6)) / (hi - lo);
  g.strokeStyle = grey ? "rgb(120,120,120)" : "rgb(128,0,0)";
  g.lineWidth = Math.max(1, Math.round(H / 40));
  g.beginPath();
  let previous = null;
  for (const second of seconds) {
    const [low, high] = tile.seconds.get(second);
    const x = xOf(second);
    // More than 3 s without a reading is a gap: it stays open.
    if (previous === null || second - previous > 3)
      g.moveTo(x, yOf(low));
    else
      g.lineTo(x, yOf(low));
    if (low !== high)
      g.lineTo(x, yOf(high));
    previous = second;
  }
  g.stroke();
}

function take(message) {
  const frame = JSON.parse(message);
  now = frame.now;
  // The collector itself away from the broker: the tiles are as they were then.
  const banner = document.getElementById("banner");
  text(banner, frame.broker === "lost"
    ? "Сборщик потерял связь с брокером " + (frame.brokerLostSince ? when(frame.brokerLostSince) : "")
      + ": станции показаны такими, какими были тогда"
    : "");
  for (const station of frame.stations)
    merge(station);
  for (const tile of tiles.values())
    show(tile);
  text(document.getElementById("hidden"), frame.notShown
    ? "Ещё " + frame.notShown + " станций не показаны: их больше, чем страница показывает" : "");
}

// Each station's last runs from the archive, each with its readings as CSV.
function showRuns(list) {
  const byStation = new Map();
  for (const run of list.runs) {
    if (!byStation.has(run.station))
      byStation.set(run.station, []);
    byStation.get(run.station).push(run);
  }
  for (const [name, tile] of tiles) {
    const element = tile.element.querySelector(".runs");
    element.replaceChildren();
    for (const run of byStation.get(name) || []) {
      const item = document.createElement("li");
      let words = new Date(run.started ?? run.run).toLocaleString("ru-RU");
      if (run.comment)
        words += " · " + run.comment;
      words += " · " + (run.readings ?? run.held) + " показ.";
      if (run.stopped === null)
        words += " · идёт";
      if (run.missing > 0)
        words += " · недостаёт " + run.missing;
      if (run.lost > 0)
        words += " · потеряно " + run.lost;
      const link = document.createElement("a");
      link.href = "api/run.csv?station=" + encodeURIComponent(run.station) + "&run=" + run.run + "&token=" + encodeURIComponent(token);
      link.textContent = "CSV";
      item.append(words + " ", link);
      element.append(item);
    }
  }
}

function fetchRuns() {
  fetch("api/runs?token=" + encodeURIComponent(token))
    .then((answer) => (answer.ok ? answer.json() : null))
    .then((list) => list && showRuns(list))
    .catch(() => {})
    .finally(() => setTimeout(fetchRuns, 30000));
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss:" : "ws:";
  const socket = new WebSocket(scheme + "//" + location.host + "/live?token=" + encodeURIComponent(token));
  socket.onopen = () => text(document.getElementById("connection"), "");
  socket.onmessage = (event) => take(event.data);
  socket.onclose = () => {
    text(document.getElementById("connection"), "нет связи с коллектором, повтор…");
    for (const tile of tiles.values())
      tile.seconds.clear();
    setTimeout(connect, 2000);
  };
}

window.addEventListener("resize", () => {
  for (const tile of tiles.values())
    draw(tile, tile.element.dataset.state === "offline");
});
connect();
setTimeout(fetchRuns, 1000); // once the first frame has made the tiles
