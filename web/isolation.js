// A service worker of the page's own, for servers that send no special headers (a plain static host): it gives
// every response from the page's folder the headers that make the page cross-origin isolated, which the show's
// threads need to share memory. The page registers it and reloads once; from then on the worker serves it.
self.addEventListener("install", function() {
    self.skipWaiting();
});

self.addEventListener("activate", function(event) {
    event.waitUntil(self.clients.claim());
});

self.addEventListener("fetch", function(event) {
    var request = event.request;
    // Only what the page loads needs the headers; anything else goes to the network as it is. A request that may
    // only come from the cache cannot be fetched again across origins.
    if (request.method !== "GET" || (request.cache === "only-if-cached" && request.mode !== "same-origin"))
        return;
    event.respondWith(fetch(request).then(function(response) {
        if (response.status === 0)
            return response;
        var headers = new Headers(response.headers);
        headers.set("Cross-Origin-Opener-Policy", "same-origin");
        headers.set("Cross-Origin-Embedder-Policy", "require-corp");
        headers.set("Cross-Origin-Resource-Policy", "same-origin");
        return new Response(response.body, {status: response.status, statusText: response.statusText,
                                            headers: headers});
    }));
});
