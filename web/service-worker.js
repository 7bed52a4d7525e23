// Keeps the page's files, so that after one visit over http(s) the page
// opens and converts with no network. It asks the network first, so that
// every load takes the newest version there is, and the kept copy only
// when the network does not answer. (A page opened from disk has none.)
"use strict";

const cacheName = "score2wav-page";
const pageFiles = ["./", "index.html", "style.css", "page-data.js", "score2wav-core.js", "score2wav-page.js",
                   "manifest.webmanifest", "icon-192.png", "icon-512.png"];

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(cacheName).then((cache) => cache.addAll(pageFiles)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
  event.waitUntil(self.clients.claim());
});

self.addEventListener("fetch", (event) => {
  const request = event.request;
  if (request.method !== "GET" || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(request).then((response) => {
    if (response.ok) {
      const copy = response.clone();
      event.waitUntil(caches.open(cacheName).then((cache) => cache.put(request, copy)));
    }
    return response;
  }).catch(() => caches.match(request, {ignoreSearch: true}).then((kept) => kept || Response.error())));
});
