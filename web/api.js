// The server's JSON API, one function per call. A failed call throws an
// Error whose message is the server's sentence (or says the server is gone).

async function call(method, path, body) {
    let response
    try {
        response = await fetch(path, {
            method,
            headers: body ? {"Content-Type": "application/json"} : {},
            body: body ? JSON.stringify(body) : (method === "POST" ? "" : undefined)
        })
    } catch (error) {
        throw new Error("The server does not answer; is ai-players serve still running?")
    }
    let data = null
    try {
        data = await response.json()
    } catch (error) {
        throw new Error(`The server answered ${response.status} without a message.`)
    }
    if (!response.ok) {
        const error = new Error(data && data.error ? data.error : response.statusText)
        error.status = response.status
        throw error
    }
    return data
}

const game = id => `/api/games/${id}`

export const personas = () => call("GET", "/api/personas")
export const defaults = () => call("GET", "/api/defaults")
export const checkPosition = fen => call("POST", "/api/positions", {fen})
export const createGame = setup => call("POST", "/api/games", setup)
export const getGame = id => call("GET", game(id))
export const endGame = id => call("DELETE", game(id))
export const askReply = id => call("POST", `${game(id)}/reply`)
// The answer comes before the persona thinks; askReply asks for its move.
export const sendMove = (id, move) => call("POST", `${game(id)}/moves`, {move, await_reply: false})
export const moveNow = id => call("POST", `${game(id)}/move-now`)
export const undo = id => call("POST", `${game(id)}/undo`)
export const resign = id => call("POST", `${game(id)}/resign`)
export const offerDraw = id => call("POST", `${game(id)}/draw`)
export const hint = id => call("GET", `${game(id)}/hint`)
export const review = id => call("POST", `${game(id)}/review`)
export const pgnUrl = id => `${game(id)}/pgn`

// The player's stored games, their rating and whom to play next.
export const savedGames = (filter = {}) => call("GET", `/api/saved-games?${new URLSearchParams(filter)}`)
export const continueSaved = id => call("POST", `/api/saved-games/${id}/continue`)
export const savedPgnUrl = id => `/api/saved-games/${id}/pgn`
export const reviewSaved = id => call("POST", `/api/saved-games/${id}/review`)
export const rating = () => call("GET", "/api/rating")
